#!/usr/bin/env bash
# Demo: one glow_ctl run against the emulated LED controller.
#
#   sudo scripts/demo.sh [glow_ctl options]     e.g.  sudo scripts/demo.sh -l 1 -r fast -g on
#
# Builds glow_ctl and glow_emu, makes two network namespaces joined by a veth
# pair (the device side's end is the interface glow_ctl uses), starts
# glow_emu on the controller side, runs glow_ctl on the device side with the
# options given, shows what the emulated controller now displays, and
# removes everything again. glow_ctl never runs outside the namespaces.
set -euo pipefail
. "$(dirname "$0")/common.sh"

[ "$(id -u)" -eq 0 ] || die "the demo needs root to create network namespaces: run it with sudo"

host_packages
build=$GLOW_BUILD/demo
say "building glow_ctl and glow_emu in $build"
cmake -S "$GLOW_ROOT" -B "$build" -DGLOW_TESTS=OFF >/dev/null
cmake --build "$build" --target glow_ctl glow_emu -j"$(nproc)" >/dev/null
scratch=$(mktemp -d)
emu_pid=
cleanup() {
	[ -n "$emu_pid" ] && kill "$emu_pid" 2>/dev/null && wait "$emu_pid" 2>/dev/null
	testnet_down
	rm -rf "$scratch"
}
trap cleanup EXIT

testnet_up "$build" "glow-demo-$$"
say "test network: $testnet_device ($interface $own) <-> $testnet_controller ($controller)"

ip netns exec "$testnet_controller" "$build/tools/glow_emu" --address "$controller" --port "$port" \
	>"$scratch/emu.out" 2>&1 &
emu_pid=$!
wait_listening "$scratch/emu.out"

say "\$ glow_ctl $*"
status=0
ip netns exec "$testnet_device" "$build/src/glow_ctl" "$@" || status=$?
echo "(exit status $status)"

sleep 0.2
kill "$emu_pid"
wait "$emu_pid" || true
emu_pid=
say "the emulated controller received, and now shows:"
cat "$scratch/emu.out"
