#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Demo: one glow_ctl run against the emulated LED controller.
#
#   sudo scripts/demo.sh [--arm-vm] [--show] [glow_ctl options]
#                                   e.g.  sudo scripts/demo.sh -l 1 -r fast -g on
#   scripts/demo.sh --help          this text
#
# The glow_ctl options: -l/--led LED, -r/--red, -g/--green, -b/--blue VALUE
# (man glow_ctl). The demo's own options may stand anywhere among them; the
# demo exits with glow_ctl's exit status.
#
# Builds glow_ctl and glow_emu, makes two network namespaces joined by a veth
# pair (the device side's end is the interface glow_ctl uses), starts
# glow_emu on the controller side, runs glow_ctl on the device side with the
# options given, shows what the emulated controller now displays, and
# removes everything again. glow_ctl never runs outside the namespaces.
#
# --arm-vm: the device is a booted ARM Linux instead (Debian's armhf kernel
# under qemu-system-arm), running the armhf package's glow_ctl; its network
# card joins the controller's namespace through a tap device.
#
# --show: the emulated controller draws its three LEDs live in this terminal,
# blinking their patterns, for GLOW_DEMO_SECONDS (20) seconds or until
# Ctrl-C; glow_ctl runs a moment after the view appears, and what it prints
# appears in the view as it happens. More runs can be made from another
# terminal meanwhile (the view shows the command), except with --arm-vm.
#
# Reads: GLOW_DEMO_SECONDS (the live view's seconds, a whole number from 1
# to 86400, 20), GLOW_BUILD (where it builds, build/), XDG_CACHE_HOME or
# HOME (the ARM guest's packages).
set -euo pipefail
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/testbed.sh"

show=
arm_vm=
# The demo's own options, wherever they stand; everything else is
# glow_ctl's, including the word after an option that takes one.
ctl_args=()
takes_value=
for arg in "$@"; do
	if [ -n "$takes_value" ]; then
		ctl_args+=("$arg")
		takes_value=
		continue
	fi
	case $arg in
	--show) show=1 ;;
	--arm-vm) arm_vm=1 ;;
	--help | -h) sed -n '3,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//p}' "$0"; exit 0 ;;
	-l | -r | -g | -b | --led | --red | --green | --blue) ctl_args+=("$arg"); takes_value=1 ;;
	*) ctl_args+=("$arg") ;;
	esac
done
set -- "${ctl_args[@]}"
seconds=${GLOW_DEMO_SECONDS:-20}
whole_number GLOW_DEMO_SECONDS "$seconds" 1 86400
need_root "the demo (it creates network namespaces)"

host_packages
build=$GLOW_BUILD/demo
say "building glow_ctl and glow_emu in $build"
build_programs demo "$build"
scratch=$(mktemp -d)
on_exit testnet_cleanup

if [ -n "$arm_vm" ]; then
	apt_install g++-arm-linux-gnueabihf qemu-system-arm
	package_build=$GLOW_BUILD/demo-armhf
	say "building the armhf package in $package_build"
	cmake -S "$GLOW_ROOT" --preset demo-armhf -B "$package_build" >/dev/null
	cmake --build "$package_build" -j"$(nproc)" >/dev/null
	cpack --config "$package_build/CPackConfig.cmake" -G DEB -B "$package_build/package" >/dev/null
	package=$(ls "$package_build"/package/glow-ctl_*_armhf.deb)
	testnet_tap "$build" "glow-demo-$$" glowtap0
	say "test network: $testnet_controller ($controller on glowtap0)"
	echo "   <-> a booted ARM guest, Cortex-A15 ($interface $own)"
	# run_glow_ctl ARGS... : boots the guest, runs the package's glow_ctl
	# there once; the launcher prints what it printed and its status, and
	# exits with that status (-B: it writes no bytecode into the checkout).
	run_glow_ctl() {
		python3 -B "$GLOW_ROOT/tools/arm_vm.py" demo "$GLOW_CACHE/arm-vm" \
			"$testnet_controller" glowtap0 "$own" "$interface" cortex-a15 "$package" -- "$@" &
		vm_pid=$!
		local status=0
		wait "$vm_pid" || status=$?
		vm_pid=
		return "$status"
	}
else
	testnet_up "$build" "glow-demo-$$"
	say "test network: $testnet_device ($interface $own)"
	echo "   <-> $testnet_controller ($controller)"
	# run_glow_ctl ARGS... : glow_ctl in the device namespace, named
	# glow_ctl as on the device: the build folder's path in front of its
	# messages would push their words off a narrow screen.
	run_glow_ctl() {
		local status=0
		# shellcheck disable=SC2016 # the inner shell expands them
		ip netns exec "$testnet_device" bash -c 'exec -a glow_ctl "$0" "$@"' "$build/src/glow_ctl" "$@" ||
			status=$?
		echo "(exit status $status)"
		return "$status"
	}
fi

# What ran, said as no command to copy: a copy run outside the namespaces
# would reach for the controller from this machine's own network.
ran="glow_ctl's run${arm_vm:+ in the ARM guest} with ${*:-no options}:"

if [ -n "$show" ]; then
	say "live view for $seconds s (Ctrl-C ends it sooner)"
	# The view ends with this file's last lines: what ran, then what
	# glow_ctl prints, as it prints it, so a resize or Ctrl-C loses neither.
	footer=$scratch/footer
	echo "$ran" >"$footer"
	# The hint, a command for another terminal meanwhile: one line, which
	# glow_emu shows whole or not at all, and not in its last frame.
	hint=()
	if [ -z "$arm_vm" ]; then
		# Another terminal needs root too; a minimal system has no sudo.
		sudo=$( [ -z "$(command -v sudo)" ] || echo "sudo ")
		hint=(--hint "${sudo}ip netns exec $testnet_device $(printf %q "$build/src/glow_ctl") -l 2 -r slow -g norm -b ultra")
	fi
	ip netns exec "$testnet_controller" "$build/tools/glow_emu" --show --address "$controller" \
		--port "$port" --time-limit $((seconds * 1000)) --footer "$footer" "${hint[@]}" &
	emu_pid=$!
	# What it said went to the terminal, where the view is.
	wait_emulator
	sleep 1
	status=0
	run_glow_ctl "$@" >>"$footer" 2>&1 || status=$?
	wait "$emu_pid" || true
	emu_pid=
	# Without a terminal glow_emu drew no view, so no footer either.
	[ -t 1 ] || cat "$footer"
	exit "$status"
fi

start_emulator "$build"

say "$ran"
status=0
run_glow_ctl "$@" || status=$?

sleep 0.2
kill "$emu_pid"
wait "$emu_pid" || true
emu_pid=
say "the emulated controller received, and now shows:"
# Its change lines are left out: the final state after them shows each LED
# once. Its own prefix is dropped, so that every line fits 80 columns.
grep -v '^LED [0-9]: ' "$scratch/emu.out" | sed 's/^glow_emu: //' || true
exit "$status"
