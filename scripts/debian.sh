#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command in a minimal Debian system, as a new user's would be: a
# fresh clone of this checkout inside a system made by mmdebstrap's minbase
# variant (apt and the essential packages, nothing else), as root.
#
#   sudo scripts/debian.sh SUITE [COMMAND...]   e.g. scripts/debian.sh trixie scripts/test.sh host
#
# COMMAND runs in the clone, /glow_ctl (by default an interactive shell).
# The clone holds the tracked files as they are now, edits included. CI is
# passed on, and GLOW_DEBIAN_SUITE names the suite there. The base system
# comes from the Debian archive this machine's apt uses and is kept in
# GLOW_CACHE/debian/SUITE with every package the command downloads, so a
# second run downloads nothing the first did.
#
# The system lives in mount and PID namespaces of its own: its mounts and
# its processes end with the run however it ends, and its folder is removed.
set -euo pipefail
. "$(dirname "$0")/common.sh"

[ $# -ge 1 ] || die "usage: scripts/debian.sh SUITE [COMMAND...]"
suite=$1
shift
[ $# -gt 0 ] || set -- bash -i
[[ $suite =~ ^[a-z][a-z0-9-]*$ ]] || die "SUITE='$suite': it takes a Debian suite's name, such as trixie"
need_root "a Debian system in a folder"
apt_install mmdebstrap git ca-certificates

# debian_mirror : the Debian archive this machine's apt reads its own suite from.
debian_mirror() {
	local uri release
	while read -r uri release; do
		[[ $release == *-* ]] && continue
		echo "${uri%/}"
		return 0
	done < <(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' | sort -u)
	die "apt names no Debian archive to make a $suite system from"
}

cache=$GLOW_CACHE/debian/$suite
base=$cache/minbase.tar
mkdir -p "$cache/archives/partial" "$cache/home"
# make_base [MMDEBSTRAP OPTION...] : the minimal system's tar, as base.part;
# what apt says goes to the log, without mmdebstrap's own progress lines.
make_base() {
	mmdebstrap --variant=minbase --format=tar "$@" "$suite" "$base.part" "$(debian_mirror)" 2>"$log"
	local status=$?
	grep -v '^I: ' "$log" >&2
	return "$status"
}

if [ ! -f "$base" ]; then
	say "making a minimal Debian $suite (kept in $cache)"
	log=$(mktemp)
	if ! make_base; then
		# A suite whose Release file is past its date (testing, on an archive
		# that is not refreshed) is refused by apt; apt's own option takes it,
		# in the system made too (mmdebstrap keeps its apt options there).
		grep -q 'is expired' "$log" || { rm -f "$log"; die "mmdebstrap could not make Debian $suite"; }
		say "the archive's $suite Release file is past its date: taken as apt takes it with Acquire::Check-Valid-Until false"
		make_base --aptopt='Acquire::Check-Valid-Until "false"' || { rm -f "$log"; die "mmdebstrap could not make Debian $suite"; }
	fi
	rm -f "$log"
	mv "$base.part" "$base"
fi

# On a disk, not in a tmpfs: with its compilers the system takes 2 GB.
root=$(mktemp -d "${TMPDIR:-/var/tmp}/glow-debian-$suite.XXXXXX")
child=
# cleanup : ends the system's processes and removes its folder. Killing the
# first process of its PID namespace ends every other one there (unshare
# itself passes no signal on); its mounts were never seen outside it.
cleanup() {
	trap '' HUP INT TERM
	set +e # every step, whatever the one before gave
	if [ -n "$child" ]; then
		# shellcheck disable=SC2046 # one PID or none
		kill -KILL $(cat "/proc/$child/task/$child/children" 2>/dev/null) 2>/dev/null
		wait "$child" 2>/dev/null
	fi
	rm -rf --one-file-system "$root"
}
on_exit cleanup

tar -xf "$base" -C "$root"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# It trusts what this machine trusts (a proxy's own authority, say) once
# the command installs ca-certificates there.
mkdir -p "$root/usr/local/share/ca-certificates"
[ ! -f /etc/ssl/certs/ca-certificates.crt ] ||
	cp /etc/ssl/certs/ca-certificates.crt "$root/usr/local/share/ca-certificates/this-machine.crt"
# The clone, then the tracked files as they are now over it.
git -c safe.directory="$GLOW_ROOT" clone --quiet "$GLOW_ROOT" "$root/glow_ctl"
tree=$(git -C "$GLOW_ROOT" stash create)
[ -z "$tree" ] || git -C "$GLOW_ROOT" archive "$tree" | tar -x -C "$root/glow_ctl"

# Inside the new namespaces: the root bound onto itself (ip netns makes its
# mounts below it), the kernel's file systems, the cached packages and the
# cache of the test command's downloads.
inside='
	suite=$1 root=$2 cache=$3
	shift 3
	mount --bind "$root" "$root"
	mount -t proc proc "$root/proc"
	mount --rbind /sys "$root/sys"
	mount --rbind /dev "$root/dev"
	mount -t tmpfs tmpfs "$root/run"
	mount -t tmpfs tmpfs "$root/tmp"
	mount --bind "$cache/archives" "$root/var/cache/apt/archives"
	mkdir -p "$root/root/.cache/glow_ctl"
	mount --bind "$cache/home" "$root/root/.cache/glow_ctl"
	exec chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
		HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 GLOW_DEBIAN_SUITE="$suite" ${CI:+CI=$CI} /bin/bash -c "cd /glow_ctl && exec \"\$@\"" - "$@"
'
say "Debian $suite, minbase: $*"
unshare --mount --propagation private --pid --fork --kill-child \
	bash -c "$inside" - "$suite" "$root" "$cache" "$@" <&0 &
child=$!
status=0
wait "$child" || status=$?
child=
exit "$status"
