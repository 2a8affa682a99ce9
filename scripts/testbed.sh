# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The demo's and the benchmark's test bed: the two network namespaces (or
# the controller's alone, for a virtual machine), glow_emu in the
# controller's, and their clean-up however the script ends. Sourced after
# common.sh, not run.

# build_environment BUILD : the file CMake writes with the build's constants
# and programs, as the system tests get them (GLOW_INTERFACE, GLOW_PORT,
# GLOW_EMU, GLOW_VERSION, ...), for a shell to source.
build_environment() {
	[ -f "$1/tests/system/environment.sh" ] || die "$1 has no tests/system/environment.sh: configure it with its tests"
	echo "$1/tests/system/environment.sh"
}

# testnet_up BUILD STEM : two network namespaces, STEM-dev and STEM-ctl, joined
# by a veth pair. The device end carries the build's interface name and own
# address, the controller end the controller's address. Sets testnet_device,
# testnet_controller (once they are this script's own, for the clean-up to
# delete) and the link constants (interface, port, own, controller).
testnet_up() {
	link_constants "$1"
	"$GLOW_ROOT/scripts/testnet.sh" create "$2-dev" "$2-ctl" "$interface" "$own" "$controller"
	testnet_device=$2-dev
	testnet_controller=$2-ctl
}

# testnet_tap BUILD STEM TAP : the controller namespace STEM-ctl alone, its
# address on the tap device TAP, for a virtual machine to be the device.
testnet_tap() {
	link_constants "$1"
	"$GLOW_ROOT/scripts/testnet.sh" tap "$2-ctl" "$3" "$controller"
	testnet_device=
	testnet_controller=$2-ctl
}

# link_constants BUILD : sets interface, port, own and controller from the
# build's environment file.
link_constants() {
	local file
	file=$(build_environment "$1")
	# shellcheck source=/dev/null
	. "$file"
	interface=$GLOW_INTERFACE port=$GLOW_PORT own=$GLOW_OWN_ADDRESS controller=$GLOW_CONTROLLER_ADDRESS
}

testnet_down() {
	"$GLOW_ROOT/scripts/testnet.sh" delete ${testnet_device:+"$testnet_device"} \
		${testnet_controller:+"$testnet_controller"}
}

# What testnet_cleanup removes: glow_emu's PID, the ARM guest's launcher's
# (which ends its qemu when told to) and a scratch folder.
emu_pid=
vm_pid=
scratch=

# testnet_cleanup : ends glow_emu if it runs, deletes the namespaces and the
# scratch folder. Installed with on_exit; once it starts, further
# signals wait until it is done.
testnet_cleanup() {
	trap '' HUP INT TERM
	# Every step runs whatever the one before gave: under set -e, a glow_emu
	# that a signal had already ended would make wait fail and end the
	# cleanup before the namespaces are gone.
	set +e
	local pid
	for pid in $vm_pid $emu_pid; do
		kill "$pid" 2>/dev/null
		wait "$pid" 2>/dev/null
	done
	testnet_down
	[ -n "$scratch" ] && rm -rf "$scratch"
	return 0
}

# wait_emulator [OUTPUT] : returns once the glow_emu of emu_pid listens on
# the port in the controller namespace; ends the script, with what it wrote
# to OUTPUT, when it does not.
wait_emulator() {
	python3 "$GLOW_ROOT/tools/listening.py" "$testnet_controller" "$port" "$emu_pid" ||
		die "glow_emu did not start${1:+; it said: $(cat "$1")}"
}

# start_emulator BUILD [GLOW_EMU ARGS...] : glow_emu in the controller
# namespace, printing to $scratch/emu.out; returns once it listens.
start_emulator() {
	ip netns exec "$testnet_controller" "$1/tools/glow_emu" --address "$controller" --port "$port" \
		"${@:2}" >"$scratch/emu.out" 2>&1 &
	emu_pid=$!
	wait_emulator "$scratch/emu.out"
}
