# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Shared by the scripts: where things are, and installing what is missing.
# Sourced, not run.

GLOW_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
GLOW_BUILD=${GLOW_BUILD:-$GLOW_ROOT/build}
# Downloads kept between runs (the booted guest's packages, the bills of
# materials' schemas): the user's cache, or the build folder's without a home.
# shellcheck disable=SC2034 # read by the scripts that source this file
GLOW_CACHE=${XDG_CACHE_HOME:-${HOME:-$GLOW_BUILD}/.cache}/glow_ctl

say() { printf '\n== %s\n' "$*"; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# need_root WHAT : ends the script unless it runs as root, saying how to
# run it again (with sudo only where there is one: a minimal system has none).
need_root() {
	[ "$(id -u)" -eq 0 ] && return
	if command -v sudo >/dev/null; then die "$1 needs root: run it with sudo"; fi
	die "$1 needs root: run it as root"
}

# whole_number NAME VALUE MIN MAX : ends the script unless VALUE is a whole
# number from MIN to MAX, naming NAME (a variable or an option).
whole_number() {
	if ! [[ $2 =~ ^[0-9]{1,9}$ ]] || [ "$((10#$2))" -lt "$3" ] || [ "$((10#$2))" -gt "$4" ]; then
		die "$1='$2': it takes a whole number from $3 to $4"
	fi
}

# GLOW_BUILD is where every script builds: a folder, or a path where one
# can be made. Checked here, before any script makes anything.
[ ! -e "$GLOW_BUILD" ] || [ -d "$GLOW_BUILD" ] || die "GLOW_BUILD='$GLOW_BUILD': it takes a folder, and that is a file"
[ -n "$GLOW_BUILD" ] || die "GLOW_BUILD='': it takes a folder"
# An absolute path: one that starts with a dash is no option to any tool.
[[ $GLOW_BUILD == /* ]] || GLOW_BUILD=$PWD/$GLOW_BUILD

# check_musl_root : ends the script unless GLOW_MUSL_ROOT, where set, is the
# absolute path of a folder holding musl-dev:armel unpacked.
check_musl_root() {
	[ -z "${GLOW_MUSL_ROOT:-}" ] ||
		{ [[ $GLOW_MUSL_ROOT == /* ]] && [ -f "$GLOW_MUSL_ROOT/usr/lib/arm-linux-musleabi/musl-gcc.specs" ]; } ||
		die "GLOW_MUSL_ROOT='$GLOW_MUSL_ROOT': it takes the absolute path of a folder holding musl-dev:armel unpacked"
}
check_musl_root

# clear_build BUILD : removes BUILD when it is a CMake build folder of this
# project (its CMakeCache.txt names it as this project's build folder);
# refuses anything else there, touching nothing.
clear_build() {
	[ -e "$1" ] || [ -L "$1" ] || return 0
	if [ ! -L "$1" ] && [ -d "$1" ] && grep -qxF "glow_ctl_BINARY_DIR:STATIC=$1" "$1/CMakeCache.txt" 2>/dev/null; then
		rm -rf -- "$1"
		return
	fi
	die "$1 is in the way and is no build folder of glow_ctl's: move it, or set GLOW_BUILD elsewhere"
}

# How long an install waits for another apt or dpkg (unattended-upgrades on a
# fresh machine) to let go of dpkg's lock, in seconds.
apt_lock_wait=600

# apt_install PACKAGE... : installs the packages that are not installed yet,
# refreshing the package lists once per run.
apt_install() {
	local missing=() package
	for package in "$@"; do
		[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = 'install ok installed' ] ||
			missing+=("$package")
	done
	[ ${#missing[@]} -eq 0 ] && return 0
	[ "$(id -u)" -eq 0 ] || die "missing packages (${missing[*]}); run as root to install them"
	say "installing ${missing[*]}"
	if [ -z "${GLOW_APT_UPDATED:-}" ]; then
		apt-get update -q -o DPkg::Lock::Timeout="$apt_lock_wait" >/dev/null || die "apt-get update failed"
		GLOW_APT_UPDATED=1
	fi
	DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
		-o DPkg::Lock::Timeout="$apt_lock_wait" "${missing[@]}" \
		>/dev/null || die "apt-get install ${missing[*]} failed"
}

# The host build's packages: compilers, CMake and make (which CMake only
# recommends), GoogleTest, Python, iproute2, and git for the source tarball.
host_packages() {
	apt_install g++ cmake make libgtest-dev googletest python3 iproute2 git
}

# The last Debian release with the armel architecture: a Debian without it
# (testing, after Debian 13) takes its musl for armel from there.
armel_last_suite=trixie

# arm_static_packages : Debian's armel cross compiler and musl for armel:
# musl-dev:armel of this machine's suite (a foreign architecture) where the
# suite has armel, or else the last release's in a folder of its own
# (musl_package_root).
arm_static_packages() {
	apt_install g++-arm-linux-gnueabi
	[ -z "${GLOW_MUSL_ROOT:-}" ] || return 0
	[ "$(dpkg-query -W -f='${Status}' musl-dev:armel 2>/dev/null)" != 'install ok installed' ] || return 0
	if ! python3 "$GLOW_ROOT/tools/debian_archive.py" has "$GLOW_CACHE/debian-archive" this armel musl-dev; then
		musl_package_root
		return
	fi
	if ! grep -qx armel <<<"$(dpkg --print-foreign-architectures)"; then
		[ "$(id -u)" -eq 0 ] || die "armel is not a dpkg architecture here; run as root to add it"
		dpkg --add-architecture armel
		GLOW_APT_UPDATED= # the package lists must now include armel's
	fi
	apt_install musl-dev:armel
}

# musl_package_root : the last armel release's musl and musl-dev for armel,
# unpacked once into GLOW_CACHE/armel-musl/SUITE with a package database of
# their own (which the bills of materials read), and exported as
# GLOW_MUSL_ROOT for the toolchain file. Made aside and renamed into place,
# so a run beside this one finds it whole or not at all. Unpacked only: the
# one maintainer script links a file outside the folder, which the static
# link never reads. The musl-gcc profile names the folder instead of /usr.
musl_package_root() {
	local root=$GLOW_CACHE/armel-musl/$armel_last_suite new debs profile text
	if [ ! -e "$root" ]; then
		say "musl for armel from Debian $armel_last_suite, unpacked into $root"
		mapfile -t debs < <(python3 "$GLOW_ROOT/tools/debian_archive.py" download "$GLOW_CACHE/debian-archive" \
			"$armel_last_suite" armel "$GLOW_CACHE/debian-archive/debs/$armel_last_suite-armel" musl musl-dev)
		[ ${#debs[@]} -eq 2 ] || die "Debian $armel_last_suite's musl and musl-dev for armel could not be downloaded"
		mkdir -p "$GLOW_CACHE/armel-musl"
		new=$(mktemp -d "$GLOW_CACHE/armel-musl/.new.XXXXXX")
		mkdir -p "$new/var/lib/dpkg/info" "$new/var/lib/dpkg/updates"
		: >"$new/var/lib/dpkg/status"
		dpkg --root="$new" --force-not-root --add-architecture armel
		dpkg --root="$new" --force-not-root --unpack "${debs[@]}" >/dev/null
		profile=$new/usr/lib/arm-linux-musleabi/musl-gcc.specs
		IFS= read -r -d '' text <"$profile" || true # the whole file: gcc needs its closing blank lines
		text=${text//\/usr\/include\/arm-linux-musleabi/"$root/usr/include/arm-linux-musleabi"}
		printf '%s' "${text//\/usr\/lib\/arm-linux-musleabi/"$root/usr/lib/arm-linux-musleabi"}" >"$profile"
		mv -T -- "$new" "$root" 2>/dev/null || rm -rf -- "$new" # a run beside this one was first
	fi
	GLOW_MUSL_ROOT=$root
	check_musl_root
	export GLOW_MUSL_ROOT
}

# release_packages [check] : what scripts/release.sh builds with, and with
# "check" what its reproducibility check runs too. The release tests have
# them installed before they run side by side: two apt-get runs at once
# fail on apt's lock.
release_packages() {
	host_packages
	apt_install g++-arm-linux-gnueabihf binutils
	arm_static_packages
	[ "${1:-}" != check ] || apt_install reprotest faketime locales-all
}

# commit_version COMMIT : the version the commit's CMakeLists.txt states.
commit_version() {
	git -C "$GLOW_ROOT" show "$1:CMakeLists.txt" | sed -n 's/^project(glow_ctl VERSION \([^ ]*\) .*/\1/p'
}

# source_tarball COMMIT OUT : writes OUT/glow_ctl-VERSION.tar.gz, the
# commit's own files under glow-ctl-VERSION/ (the folder the firmware
# recipes expect), and prints its path. Time stamps are the commit's, modes
# git's own (tar.umask fixed), gzip stores no name or time: the same commit
# gives the same bytes anywhere.
source_tarball() {
	local version tarball
	version=$(commit_version "$1")
	tarball=$2/glow_ctl-$version.tar.gz
	git -C "$GLOW_ROOT" -c tar.umask=0022 archive --format=tar --prefix="glow-ctl-$version/" "$1" |
		gzip -9n >"$tarball"
	echo "$tarball"
}

# unpacked_tarball WORK : the source tarball of the tracked files as they
# are now, edits included (the commit when there are none), unpacked in
# WORK; prints the folder it unpacked, as a firmware build system has it.
unpacked_tarball() {
	local tree
	tree=$(git -C "$GLOW_ROOT" stash create)
	tar -xzf "$(source_tarball "${tree:-HEAD}" "$1")" -C "$1"
	echo "$1/glow-ctl-$(commit_version "${tree:-HEAD}")"
}

# build_programs PRESET BUILD : configures BUILD by the preset and builds
# glow_ctl and glow_emu there.
build_programs() {
	cmake -S "$GLOW_ROOT" --preset "$1" -B "$2" >/dev/null
	cmake --build "$2" --target glow_ctl glow_emu -j"$(nproc)" >/dev/null
}

# on_exit FUNCTION : runs FUNCTION however the script ends: at its end,
# after a failed step, on Ctrl-C, when its terminal closes (SIGHUP) and on
# kill (SIGTERM). An EXIT trap alone is not enough: a shell killed by SIGHUP
# may die without running it. Each signal ends the script with the status a
# death by that signal gives, and that exit runs the EXIT trap.
on_exit() {
	# shellcheck disable=SC2064 # the function's name, now
	trap "$1" EXIT
	trap 'exit 129' HUP
	trap 'exit 130' INT
	trap 'exit 143' TERM
}
