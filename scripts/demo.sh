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
value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
interface=$(value GLOW_INTERFACE)
port=$(value GLOW_PORT)
own=$(value GLOW_OWN_ADDRESS)
controller=$(value GLOW_CONTROLLER_ADDRESS)

device_ns=glow-demo-$$-dev
controller_ns=glow-demo-$$-ctl
scratch=$(mktemp -d)
emu_pid=
cleanup() {
	[ -n "$emu_pid" ] && kill "$emu_pid" 2>/dev/null && wait "$emu_pid" 2>/dev/null
	ip netns del "$device_ns" 2>/dev/null
	ip netns del "$controller_ns" 2>/dev/null
	rm -rf "$scratch"
}
trap cleanup EXIT

say "test network: $device_ns ($interface $own) <-> $controller_ns ($controller)"
ip netns add "$device_ns"
ip netns add "$controller_ns"
ip link add "$interface" netns "$device_ns" type veth peer name ctl0 netns "$controller_ns"
ip -n "$device_ns" addr add "$own/16" dev "$interface"
ip -n "$controller_ns" addr add "$controller/16" dev ctl0
for ns in "$device_ns" "$controller_ns"; do ip -n "$ns" link set lo up; done
ip -n "$device_ns" link set "$interface" up
ip -n "$controller_ns" link set ctl0 up

ip netns exec "$controller_ns" "$build/tools/glow_emu" --address "$controller" --port "$port" \
	>"$scratch/emu.out" 2>&1 &
emu_pid=$!
for _ in $(seq 100); do grep -q listening "$scratch/emu.out" && break; sleep 0.05; done
grep -q listening "$scratch/emu.out" || die "glow_emu did not start: $(cat "$scratch/emu.out")"

say "\$ glow_ctl $*"
status=0
ip netns exec "$device_ns" "$build/src/glow_ctl" "$@" || status=$?
echo "(exit status $status)"

sleep 0.2
kill "$emu_pid"
wait "$emu_pid" || true
emu_pid=
say "the emulated controller received, and now shows:"
cat "$scratch/emu.out"
