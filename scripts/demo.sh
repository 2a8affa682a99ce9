#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Demo: one glow_ctl run against the emulated LED controller.
#
#   sudo scripts/demo.sh [glow_ctl options]     e.g.  sudo scripts/demo.sh -l 1 -r fast -g on
#   sudo scripts/demo.sh --show [glow_ctl options]
#
# With --show the emulated controller draws its three LEDs live in this
# terminal, blinking their patterns, for GLOW_DEMO_SECONDS (20) seconds or
# until Ctrl-C; glow_ctl runs a moment after the view appears, and more runs
# can be made from another terminal meanwhile (the demo prints the command).
#
# Builds glow_ctl and glow_emu, makes two network namespaces joined by a veth
# pair (the device side's end is the interface glow_ctl uses), starts
# glow_emu on the controller side, runs glow_ctl on the device side with the
# options given, shows what the emulated controller now displays, and
# removes everything again. glow_ctl never runs outside the namespaces.
set -euo pipefail
. "$(dirname "$0")/common.sh"

show=
if [ "${1:-}" = "--show" ]; then
	show=1
	shift
fi
[ "$(id -u)" -eq 0 ] || die "the demo needs root to create network namespaces: run it with sudo"

host_packages
build=$GLOW_BUILD/demo
say "building glow_ctl and glow_emu in $build"
build_programs "$build" -DGLOW_TESTS=OFF
scratch=$(mktemp -d)
cleanup_on_exit

testnet_up "$build" "glow-demo-$$"
say "test network: $testnet_device ($interface $own) <-> $testnet_controller ($controller)"

if [ -n "$show" ]; then
	seconds=${GLOW_DEMO_SECONDS:-20}
	say "live view for $seconds s (Ctrl-C ends it sooner); from another terminal, try:"
	echo "  sudo ip netns exec $testnet_device $build/src/glow_ctl -l 2 -r slow -g norm -b ultra"
	sleep 2
	ip netns exec "$testnet_controller" "$build/tools/glow_emu" --show --address "$controller" \
		--port "$port" --time-limit $((seconds * 1000)) &
	emu_pid=$!
	for _ in $(seq 100); do
		ip netns exec "$testnet_controller" ss -Hlun "sport = :$port" | grep -q . && break
		sleep 0.05
	done
	sleep 1
	status=0
	ip netns exec "$testnet_device" "$build/src/glow_ctl" "$@" || status=$?
	wait "$emu_pid" || true
	emu_pid=
	echo "(glow_ctl $* ended with exit status $status)"
	exit 0
fi

start_emulator "$build"

say "\$ glow_ctl $*"
status=0
ip netns exec "$testnet_device" "$build/src/glow_ctl" "$@" || status=$?
echo "(exit status $status)"

sleep 0.2
kill "$emu_pid"
wait "$emu_pid" || true
emu_pid=
say "the emulated controller received, and now shows:"
# Its change lines are left out: the final state after them shows each LED once.
grep -v '^LED [0-9]: ' "$scratch/emu.out" || true
