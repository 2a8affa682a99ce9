#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The test network, made one way for the demo, the benchmark and the system
# tests: two network namespaces joined by a veth pair, created directly
# inside them. The device end carries the build's interface name and the
# device's address; the controller end, ctl0, the controller's address(es).
#
#   scripts/testnet.sh create DEVICE_NS CONTROLLER_NS INTERFACE OWN CONTROLLER [ADDRESS...]
#   scripts/testnet.sh tap CONTROLLER_NS TAP CONTROLLER [ADDRESS...]
#   scripts/testnet.sh delete NS...
#
# OWN may be empty: the device end then has no address. "tap" makes the
# controller side alone, with a tap device for a virtual machine (the
# device) to join. A namespace of the same name that is there already is
# someone else's: it is refused, untouched, and what this run made of the
# network is deleted again. Addresses get a /16. Needs root.
set -euo pipefail

# add NS... : creates the namespaces, none of which may exist yet.
add() {
	local ns
	for ns in "$@"; do
		[ ! -e "/run/netns/$ns" ] || { echo "testnet.sh: namespace $ns exists already; it is left alone" >&2; return 1; }
	done
	for ns in "$@"; do
		ip netns add "$ns" || return 1
		made+=("$ns")
	done
}

# The namespaces this run made: a failed set-up deletes them, and only them.
made=()
trap '[ $? -eq 0 ] || delete "${made[@]}"' EXIT

create() {
	local device=$1 controller=$2 interface=$3 own=$4 address
	add "$device" "$controller"
	ip link add "$interface" netns "$device" type veth peer name ctl0 netns "$controller"
	[ -z "$own" ] || ip -n "$device" addr add "$own/16" dev "$interface"
	for address in "${@:5}"; do
		ip -n "$controller" addr add "$address/16" dev ctl0
	done
	ip -n "$device" link set lo up
	ip -n "$controller" link set lo up
	ip -n "$device" link set "$interface" up
	ip -n "$controller" link set ctl0 up
}

tap() {
	local controller=$1 tap=$2 address
	add "$controller"
	ip -n "$controller" tuntap add dev "$tap" mode tap
	for address in "${@:3}"; do
		ip -n "$controller" addr add "$address/16" dev "$tap"
	done
	ip -n "$controller" link set lo up
	ip -n "$controller" link set "$tap" up
}

delete() {
	local ns
	for ns in "$@"; do
		ip netns del "$ns" 2>/dev/null || true
	done
}

usage() {
	echo "usage: testnet.sh create DEVICE_NS CONTROLLER_NS INTERFACE OWN CONTROLLER [ADDRESS...]" >&2
	echo "       testnet.sh tap CONTROLLER_NS TAP CONTROLLER [ADDRESS...]" >&2
	echo "       testnet.sh delete NS..." >&2
	exit 2
}

# Each step is a command of its own, so that set -e ends the set-up at the
# first one that fails.
case ${1:-} in
create) [ $# -ge 6 ] || usage; create "${@:2}" ;;
tap) [ $# -ge 4 ] || usage; tap "${@:2}" ;;
delete) delete "${@:2}" ;;
*) usage ;;
esac
