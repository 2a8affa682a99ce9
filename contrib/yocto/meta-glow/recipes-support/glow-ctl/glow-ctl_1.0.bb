# SPDX-License-Identifier: MIT
SUMMARY = "Sets the colour channels of one LED through the LED controller"
DESCRIPTION = "glow_ctl sets the red, green and blue channels of one of the \
device's RGB LEDs through the LED controller, over UDP, in one exchange. \
It needs the C library alone on the target."
SECTION = "utils"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=62f471abcf4d17bb22c120aa850dbdd1"

# The source: the repository this layer sits in (contrib/yocto/meta-glow).
# For a release's source tarball instead, see the layer's README: a
# bbappend empties EXTERNALSRC and sets SRC_URI with its sha256sum.
inherit externalsrc cmake
EXTERNALSRC ?= "${@os.path.abspath(os.path.join(d.getVar('THISDIR'), '../../../../..'))}"
EXTERNALSRC_BUILD ?= "${WORKDIR}/build"

# The board's wiring, fixed at build time; set them in local.conf or a
# bbappend, e.g. GLOW_INTERFACE:pn-glow-ctl = "eth0".
# The interface behind which the LED controller lies (1 to 15 characters).
GLOW_INTERFACE ?= "eth1"
# The UDP port at both ends of the link.
GLOW_PORT ?= "9000"
# This device's IPv4 address, and the controller's.
GLOW_OWN_ADDRESS ?= "169.254.100.1"
GLOW_CONTROLLER_ADDRESS ?= "169.254.100.2"
# The longest wait for the controller's reply, in ms (0: no limit).
GLOW_REPLY_TIMEOUT_MS ?= "1000"
# The longest wait for the own port while another run holds it, in ms
# (0: no wait), and the pause between two tries for it.
GLOW_BIND_WAIT_MS ?= "1500"
GLOW_BIND_RETRY_MS ?= "2"

# glow_ctl alone (no emulator, no tests), with the board's wiring; the
# build type, hardening and debug path maps are the distribution's
# (GLOW_FIRMWARE).
EXTRA_OECMAKE += "-DGLOW_FIRMWARE=ON -DGLOW_PROGRAM_ONLY=ON -DGLOW_TESTS=OFF \
    -DGLOW_INTERFACE=${GLOW_INTERFACE} -DGLOW_PORT=${GLOW_PORT} \
    -DGLOW_OWN_ADDRESS=${GLOW_OWN_ADDRESS} -DGLOW_CONTROLLER_ADDRESS=${GLOW_CONTROLLER_ADDRESS} \
    -DGLOW_REPLY_TIMEOUT_MS=${GLOW_REPLY_TIMEOUT_MS} -DGLOW_BIND_WAIT_MS=${GLOW_BIND_WAIT_MS} \
    -DGLOW_BIND_RETRY_MS=${GLOW_BIND_RETRY_MS}"

FILES:${PN} += "${datadir}/bash-completion"
