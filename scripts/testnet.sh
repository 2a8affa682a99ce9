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
# device) to join. Any namespace of the same name is deleted first.
# Addresses get a /16. Needs root.
set -euo pipefail

create() {
	local device=$1 controller=$2 interface=$3 own=$4 address
	delete "$device" "$controller"
	ip netns add "$device"
	ip netns add "$controller"
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
	delete "$controller"
	ip netns add "$controller"
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

case ${1:-} in
create) [ $# -ge 6 ] && create "${@:2}" ;;
tap) [ $# -ge 4 ] && tap "${@:2}" ;;
delete) delete "${@:2}" ;;
*) false ;;
esac || {
	echo "usage: testnet.sh create DEVICE_NS CONTROLLER_NS INTERFACE OWN CONTROLLER [ADDRESS...]" >&2
	echo "       testnet.sh tap CONTROLLER_NS TAP CONTROLLER [ADDRESS...]" >&2
	echo "       testnet.sh delete NS..." >&2
	exit 2
}
