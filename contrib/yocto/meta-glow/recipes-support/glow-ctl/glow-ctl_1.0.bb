# SPDX-License-Identifier: MIT
SUMMARY = "Sets the colour channels of one LED through the LED controller"
DESCRIPTION = "glow_ctl sets the red, green and blue channels of one of the \
               device's RGB LEDs through the LED controller, over UDP, in one \
               exchange. It needs the C library alone on the target."
SECTION = "utils"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=62f471abcf4d17bb22c120aa850dbdd1"

# The source: the commit checked out in the glow_ctl repository, fetched as
# git fetches any repository (into DL_DIR), so parsing and building write
# nothing into the checkout, which may be read-only (one of another user
# needs git's safe.directory: see the layer's README). By default the
# repository this layer sits in (contrib/yocto/meta-glow); a copy of the
# layer elsewhere sets GLOW_REPOSITORY. A release's source tarball, or the
# working tree through externalsrc: see the layer's README.
GLOW_REPOSITORY ?= "${@os.path.abspath(os.path.join(d.getVar('THISDIR'), '../../../../..'))}"
SRC_URI = "git://${GLOW_REPOSITORY};protocol=file;usehead=1;nobranch=1;destsuffix=git"
SRCREV = "${AUTOREV}"
S = "${@d.getVar('UNPACKDIR') or d.getVar('WORKDIR')}/git"

# The completion goes to glow-ctl-bash-completion, the man page to
# glow-ctl-doc.
inherit cmake bash-completion

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

# A variable's value quoted for the shell that runs cmake: it reaches CMake
# as one argument, as set (a blank, a ; or a $ included), for the project's
# own checks to judge.
def glow_quoted(d, name):
    import shlex
    return shlex.quote(d.getVar(name))

# glow_ctl alone (no emulator, no tests), with the board's wiring; the
# build type, hardening and debug path maps are the distribution's
# (GLOW_FIRMWARE).
EXTRA_OECMAKE += "-DGLOW_FIRMWARE=ON \
                  -DGLOW_PROGRAM_ONLY=ON \
                  -DGLOW_TESTS=OFF \
                  -DGLOW_INTERFACE=${@glow_quoted(d, 'GLOW_INTERFACE')} \
                  -DGLOW_PORT=${@glow_quoted(d, 'GLOW_PORT')} \
                  -DGLOW_OWN_ADDRESS=${@glow_quoted(d, 'GLOW_OWN_ADDRESS')} \
                  -DGLOW_CONTROLLER_ADDRESS=${@glow_quoted(d, 'GLOW_CONTROLLER_ADDRESS')} \
                  -DGLOW_REPLY_TIMEOUT_MS=${@glow_quoted(d, 'GLOW_REPLY_TIMEOUT_MS')} \
                  -DGLOW_BIND_WAIT_MS=${@glow_quoted(d, 'GLOW_BIND_WAIT_MS')} \
                  -DGLOW_BIND_RETRY_MS=${@glow_quoted(d, 'GLOW_BIND_RETRY_MS')}"
