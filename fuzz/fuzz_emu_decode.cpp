// SPDX-License-Identifier: MIT
// Fuzzes glow_emu's datagram decoding and register state. Whatever decodes
// must encode back to the very same bytes.
#include "emu_protocol.h"
#include "packet.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	emu_datagram datagram{};
	char why[96];
	if (!decode_datagram(data, size, &datagram, why, sizeof why)) {
		if (memchr(why, '\0', sizeof why) == nullptr || why[0] == '\0')
			abort();
		return 0;
	}
	if (datagram.led < 0 || datagram.led >= emu_led_count)
		abort();
	uint8_t again[packet_length];
	fill_packet(again, datagram.sequence, datagram.led, datagram.values[0], datagram.values[1],
		    datagram.values[2]);
	if (size != packet_length || memcmp(again, data, packet_length) != 0)
		abort();

	static emu_controller controller{};
	controller.sequence = datagram.sequence;
	if (!datagram.is_sync && !apply_write(&controller, &datagram))
		abort();
	uint8_t reply[packet_length];
	build_reply(&controller, datagram.led, reply);
	char line[160];
	describe_led(&controller, datagram.led, line, sizeof line);
	return 0;
}
