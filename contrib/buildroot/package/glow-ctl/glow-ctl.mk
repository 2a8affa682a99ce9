################################################################################
#
# glow-ctl
#
################################################################################

# SPDX-License-Identifier: MIT

GLOW_CTL_VERSION = 1.0
GLOW_CTL_LICENSE = MIT
GLOW_CTL_LICENSE_FILES = LICENSE

GLOW_CTL_TARBALL = $(call qstrip,$(BR2_PACKAGE_GLOW_CTL_TARBALL))
ifeq ($(GLOW_CTL_TARBALL),)
# The repository this br2-external tree is part of.
GLOW_CTL_SITE = $(BR2_EXTERNAL_GLOW_PATH)/../..
GLOW_CTL_SITE_METHOD = local
# Not its build and release folders, if it has any.
GLOW_CTL_OVERRIDE_SRCDIR_RSYNC_EXCLUSIONS = --exclude build --exclude dist
else
# A release's source tarball, checked against glow-ctl.hash.
GLOW_CTL_SITE = $(patsubst %/,%,$(dir $(GLOW_CTL_TARBALL)))
GLOW_CTL_SOURCE = $(notdir $(GLOW_CTL_TARBALL))
endif

# glow_ctl alone (no emulator, no tests), with the board's wiring; the
# build type and hardening are Buildroot's (GLOW_FIRMWARE).
GLOW_CTL_CONF_OPTS = \
	-DGLOW_FIRMWARE=ON \
	-DGLOW_PROGRAM_ONLY=ON \
	-DGLOW_TESTS=OFF \
	-DGLOW_INTERFACE=$(call qstrip,$(BR2_PACKAGE_GLOW_CTL_INTERFACE)) \
	-DGLOW_PORT=$(BR2_PACKAGE_GLOW_CTL_PORT) \
	-DGLOW_OWN_ADDRESS=$(call qstrip,$(BR2_PACKAGE_GLOW_CTL_OWN_ADDRESS)) \
	-DGLOW_CONTROLLER_ADDRESS=$(call qstrip,$(BR2_PACKAGE_GLOW_CTL_CONTROLLER_ADDRESS)) \
	-DGLOW_REPLY_TIMEOUT_MS=$(BR2_PACKAGE_GLOW_CTL_REPLY_TIMEOUT_MS) \
	-DGLOW_BIND_WAIT_MS=$(BR2_PACKAGE_GLOW_CTL_BIND_WAIT_MS) \
	-DGLOW_BIND_RETRY_MS=$(BR2_PACKAGE_GLOW_CTL_BIND_RETRY_MS)

$(eval $(cmake-package))
