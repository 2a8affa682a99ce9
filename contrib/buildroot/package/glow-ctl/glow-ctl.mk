################################################################################
#
# glow-ctl
#
################################################################################

# SPDX-License-Identifier: MIT

GLOW_CTL_LICENSE = MIT
GLOW_CTL_LICENSE_FILES = LICENSE

GLOW_CTL_TARBALL = $(call qstrip,$(BR2_PACKAGE_GLOW_CTL_TARBALL))
ifeq ($(GLOW_CTL_TARBALL),)
GLOW_CTL_VERSION = 1.0
# The repository this br2-external tree is part of, through a copy of its
# own files: what its .gitignore names (build and release folders) is left
# out, so neither the build nor legal-info's source archive takes anything
# a build or a release left in the checkout.
GLOW_CTL_CHECKOUT = $(BR2_EXTERNAL_GLOW_PATH)/../..
GLOW_CTL_SITE = $(BUILD_DIR)/glow-ctl-checkout
GLOW_CTL_SITE_METHOD = local
define GLOW_CTL_COPY_CHECKOUT
	mkdir -p $(GLOW_CTL_SITE)
	rsync -a --delete --delete-excluded --filter=':- .gitignore' $(RSYNC_VCS_EXCLUSIONS) \
		$(GLOW_CTL_CHECKOUT)/ $(GLOW_CTL_SITE)/
endef
GLOW_CTL_PRE_RSYNC_HOOKS += GLOW_CTL_COPY_CHECKOUT
else
# A release's source tarball, glow_ctl-VERSION.tar.gz, with its hash in
# BR2_GLOBAL_PATCH_DIR/glow-ctl/glow-ctl.hash; its version is the one its
# name holds, or custom.
GLOW_CTL_SITE = $(patsubst %/,%,$(dir $(GLOW_CTL_TARBALL)))
GLOW_CTL_SOURCE = $(notdir $(GLOW_CTL_TARBALL))
GLOW_CTL_VERSION = $(or $(patsubst glow_ctl-%.tar.gz,%,$(filter glow_ctl-%.tar.gz,$(GLOW_CTL_SOURCE))),custom)
endif

# Each menu string reaches CMake as one argument, exactly as make hands it
# over (its blanks and a ; included), for the project's own checks to judge:
# its quotes taken off (qstrip would also squeeze its blanks), then quoted
# for the shell. make itself reads .config as makefile text before any
# recipe runs: a $ or a # in a menu string is expanded or starts a comment
# there ("a$HOME" arrives as "aOME", "eth#1" as "eth", and "$(shell ...)"
# runs its command). No interface name or address needs either.
GLOW_CTL_QUOTE = '$(subst ','\'',$(subst ",,$(1)))'

# glow_ctl alone (no emulator, no tests), with the board's wiring; the
# build type and hardening are Buildroot's (GLOW_FIRMWARE).
GLOW_CTL_CONF_OPTS = \
	-DGLOW_FIRMWARE=ON \
	-DGLOW_PROGRAM_ONLY=ON \
	-DGLOW_TESTS=OFF \
	-DGLOW_INTERFACE=$(call GLOW_CTL_QUOTE,$(BR2_PACKAGE_GLOW_CTL_INTERFACE)) \
	-DGLOW_PORT=$(BR2_PACKAGE_GLOW_CTL_PORT) \
	-DGLOW_OWN_ADDRESS=$(call GLOW_CTL_QUOTE,$(BR2_PACKAGE_GLOW_CTL_OWN_ADDRESS)) \
	-DGLOW_CONTROLLER_ADDRESS=$(call GLOW_CTL_QUOTE,$(BR2_PACKAGE_GLOW_CTL_CONTROLLER_ADDRESS)) \
	-DGLOW_REPLY_TIMEOUT_MS=$(BR2_PACKAGE_GLOW_CTL_REPLY_TIMEOUT_MS) \
	-DGLOW_BIND_WAIT_MS=$(BR2_PACKAGE_GLOW_CTL_BIND_WAIT_MS) \
	-DGLOW_BIND_RETRY_MS=$(BR2_PACKAGE_GLOW_CTL_BIND_RETRY_MS)

$(eval $(cmake-package))
