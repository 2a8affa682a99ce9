#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds a release of the last commit from a clean state and writes dist/:
# the amd64 and armhf packages, the static tarball for every 32-bit ARM
# board, a CycloneDX bill of materials for each (ARTEFACT.cdx.json), the
# source tarball glow_ctl-VERSION.tar.gz that firmware recipes take, and
# SHA256SUMS. Installs what is missing, like the test command.
#
#   sudo scripts/release.sh [--check] [--dist DIR]
#   scripts/release.sh --help        this text
#
# The sources are the commit's own (git archive HEAD), never the work tree,
# and every time stamp is the commit's (SOURCE_DATE_EPOCH), so two releases of
# one commit are byte for byte the same wherever and whenever they are built.
# --check has reprotest (the reproducible-builds project's tool, from
# Debian) build it twice in two copies of the checkout, the second with
# another environment, build path, ASLR, CPU count, time, home, locale,
# PATH, time zone and umask, and fails unless every artefact is the same;
# the first build's artefacts are kept. --dist writes somewhere else than
# dist/: a folder that is new, empty or holds an earlier release (its
# SHA256SUMS names exactly the files there), which the new one replaces.
# Anything else there is refused, and nothing is touched. On a Debian
# without armel the static file links the last armel release's musl
# (GLOW_MUSL_ROOT, as the test command has it).
set -euo pipefail
. "$(dirname "$0")/common.sh"

check=
dist=$GLOW_ROOT/dist
while [ $# -gt 0 ]; do
	case $1 in
	--check) check=1; shift ;;
	--dist)
		[ $# -ge 2 ] && [ -n "$2" ] || die "--dist needs a folder: scripts/release.sh --dist DIR"
		dist=$2
		shift 2
		;;
	--help | -h) sed -n '3,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//p}' "$0"; exit 0 ;;
	*) die "unknown option '$1'; scripts/release.sh --help lists them" ;;
	esac
done
# An absolute path: one that starts with a dash is no option to any tool.
[[ $dist == /* ]] || dist=$PWD/$dist

# release_files DIR : the names SHA256SUMS lists in DIR, and SHA256SUMS
# itself, sorted; nothing where it has none.
release_files() {
	[ -f "$1/SHA256SUMS" ] || return 0
	{ sed -E 's/^[0-9a-f]{64}  //' "$1/SHA256SUMS"; echo SHA256SUMS; } | LC_ALL=C sort
}

# check_dist DIR : ends the script, touching nothing, unless DIR is not
# there yet, is an empty folder, or holds an earlier release alone: plain
# files, exactly those its SHA256SUMS names.
check_dist() {
	local present
	if [ -L "$1" ] && [ ! -e "$1" ]; then die "--dist $1 is a link to nothing; nothing was changed"; fi
	[ -e "$1" ] || return 0
	[ -d "$1" ] || die "--dist $1 is a file, not a folder; nothing was changed"
	present=$(find "$1/" -mindepth 1 -maxdepth 1 -printf '%P\n' | LC_ALL=C sort)
	[ -n "$present" ] || return 0
	if [ -z "$(find "$1/" -mindepth 1 -maxdepth 1 ! -type f)" ] && [ "$present" = "$(release_files "$1")" ]; then
		return 0
	fi
	local count shown
	count=$(wc -l <<<"$present")
	shown=$(head -n 5 <<<"$present" | paste -sd, - | sed 's/,/, /g')
	[ "$count" -le 5 ] || shown="$shown and $((count - 5)) more"
	die "--dist $1 holds what no release made ($shown); nothing was changed: name a new or empty folder"
}

# clear_dist DIR : removes the earlier release check_dist found there, file
# by file, leaving the folder.
clear_dist() {
	local name
	while read -r name; do
		[ -z "$name" ] || rm -f -- "$1/$name"
	done < <(release_files "$1")
}

check_dist "$dist"

# check_reproducible : the --check run: reprotest calls this script twice
# (without --check), in copies of the checkout's git data and scripts.
check_reproducible() {
	local store variations=-all,+environment,+build_path,+aslr,+num_cpus,+time,+home,+locales,+exec_path,+timezone,+umask
	store=$(mktemp -d)
	say "reprotest: two releases of $(git -C "$GLOW_ROOT" log -1 --format=%h), varying ${variations#-all,}"
	if ! (cd "$GLOW_ROOT" && reprotest --no-diffoscope --vary="$variations" --source-pattern='.git scripts' \
		--store-dir="$store/out" "bash scripts/release.sh --dist dist" 'dist/*' -- null); then
		rm -rf "$store"
		die "two builds of one commit differ"
	fi
	clear_dist "$dist"
	mkdir -p -- "$dist"
	mv -- "$store"/out/control/source-root/dist/* "$dist/"
	rm -rf "$store"
	echo "reproducible: both builds give the same artefacts, kept in $dist"
}

release_packages ${check:+check}

# Before this run sets its own locale and umask below: reprotest's second
# build must see the ones it varies.
if [ -n "$check" ]; then
	check_reproducible
	exit 0
fi

SOURCE_DATE_EPOCH=$(git -C "$GLOW_ROOT" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
# What is built must not depend on who builds it where: the tools speak one
# language (GNU ld translates the link map's headers, which sbom.py reads),
# and what is packed gets one set of modes whatever the caller's umask.
export LC_ALL=C
umask 022

# build_one SOURCES PRESET : glow_ctl alone, configured, built and packed by
# the preset's workflow in SOURCES/build/PRESET, with a bill of materials
# beside each artefact (ARTEFACT.cdx.json).
build_one() {
	local build=$1/build/$2 artefact
	(cd "$1" && CMAKE_BUILD_PARALLEL_LEVEL=$(nproc) cmake --workflow --preset "$2") >/dev/null
	for artefact in "$build"/out/*.deb "$build"/out/*.tar.gz; do
		[ -f "$artefact" ] || continue
		python3 "$1/scripts/sbom.py" make "$artefact" "$build/src/glow_ctl.map" "$build/src/glow_ctl" \
			"$(git -C "$GLOW_ROOT" rev-parse HEAD)" >"$artefact.cdx.json"
	done
}

# build_release OUT : every artefact of the last commit, and SHA256SUMS, in OUT.
build_release() {
	local work
	work=$(mktemp -d)
	mkdir "$work/src"
	git -C "$GLOW_ROOT" archive HEAD | tar -x -C "$work/src"
	local preset
	for preset in release-amd64 release-armhf release-static; do
		build_one "$work/src" "$preset"
	done
	mkdir -p -- "$1"
	cp "$work"/src/build/release-{amd64,armhf}/out/*.deb* "$work"/src/build/release-static/out/*.tar.gz* "$1/"
	source_tarball HEAD "$1" >/dev/null
	(cd "$1" && sha256sum -- *.deb *.tar.gz *.cdx.json >SHA256SUMS)
	rm -rf "$work"
}

clear_dist "$dist"
say "release of $(git -C "$GLOW_ROOT" log -1 --format='%h (%cd)' --date=iso-strict) into $dist"
build_release "$dist"
cat "$dist/SHA256SUMS"
