// SPDX-License-Identifier: MIT
// Fuzzes glow_emu's datagram decoding and register state. Whatever decodes
// must encode back to the very same bytes; a write with the expected
// sequence must set exactly its LED and advance the sequence past it; the
// reply must carry the new state; the state's line must name the write.
#include "emu_protocol.h"
#include "packet.h"

#include <cstdint>
#include <cstdio>
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
	if (datagram.is_sync)
		return 0;

	// The controller expects this sequence, and every register starts at a
	// value that no 16-bit datagram field can leave unchanged unnoticed.
	emu_controller controller{};
	controller.sequence = datagram.sequence;
	memset(controller.registers, 0xA5, sizeof controller.registers);
	if (!apply_write(&controller, &datagram))
		abort();
	const uint16_t next =
		static_cast<uint16_t>(datagram.sequence + 1 == sync_sequence ? 0 : datagram.sequence + 1);
	if (controller.sequence != next)
		abort();
	for (int led = 0; led < emu_led_count; ++led)
		for (int channel = 0; channel < packet_channels; ++channel) {
			const uint16_t expected = led == datagram.led ? datagram.values[channel] : 0xA5A5;
			if (channel_value(&controller, led, channel) != expected)
				abort();
		}
	if (apply_write(&controller, &datagram)) // a sequence is good once
		abort();

	uint8_t reply[packet_length];
	uint8_t expected[packet_length];
	build_reply(&controller, datagram.led, reply);
	fill_packet(expected, next, datagram.led, datagram.values[0], datagram.values[1], datagram.values[2]);
	if (memcmp(reply, expected, packet_length) != 0)
		abort();

	char line[160];
	char written[40];
	describe_led(&controller, datagram.led, line, sizeof line);
	snprintf(written, sizeof written, "(write 0x%04X)", datagram.sequence);
	if (strstr(line, written) == nullptr)
		abort();
	return 0;
}
