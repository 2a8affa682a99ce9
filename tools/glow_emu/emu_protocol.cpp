// SPDX-License-Identifier: MIT
#include "emu_protocol.h"

#include "packet.h"

#include <cstdio>

static unsigned get_u16(const uint8_t *at)
{
	return static_cast<unsigned>(at[0] << 8 | at[1]);
}

// Bytes that are neither the sequence nor a register entry must be exactly
// what every datagram carries: the header, the 0x02 marker and zeros.
static bool fixed_bytes_match(const uint8_t *bytes)
{
	uint8_t expected[packet_length];
	fill_packet(expected, 0, 0, 0, 0, 0);
	for (int i = 0; i < packet_entries_offset; ++i) {
		const bool is_sequence = i == packet_sequence_offset || i == packet_sequence_offset + 1;
		if (!is_sequence && bytes[i] != expected[i])
			return false;
	}
	return true;
}

bool decode_datagram(const uint8_t *bytes, size_t length, emu_datagram *datagram, char *why, size_t why_size)
{
	if (length != packet_length) {
		snprintf(why, why_size, "length %zu, not %d", length, packet_length);
		return false;
	}
	if (!fixed_bytes_match(bytes)) {
		snprintf(why, why_size, "header or reserved bytes are wrong");
		return false;
	}
	const uint8_t *entry = bytes + packet_entries_offset;
	const unsigned red = get_u16(entry);
	const unsigned green = get_u16(entry + 4);
	const unsigned blue = get_u16(entry + 8);
	const bool one_led = green == red + 1 && blue == red + 2;
	const bool in_range = red >= emu_first_register && (red - emu_first_register) % 3 == 0 &&
			      red < emu_first_register + 3 * emu_led_count;
	if (!one_led || !in_range) {
		snprintf(why, why_size, "registers %u, %u, %u are not one LED's", red, green, blue);
		return false;
	}
	datagram->sequence = static_cast<uint16_t>(read_sequence(bytes));
	datagram->is_sync = datagram->sequence == sync_sequence;
	datagram->led = static_cast<int>(red - emu_first_register) / 3;
	datagram->values[0] = static_cast<uint16_t>(get_u16(entry + 2));
	datagram->values[1] = static_cast<uint16_t>(get_u16(entry + 6));
	datagram->values[2] = static_cast<uint16_t>(get_u16(entry + 10));
	return true;
}

bool apply_write(emu_controller *controller, const emu_datagram *datagram)
{
	if (datagram->sequence != controller->sequence)
		return false;
	for (int channel = 0; channel < 3; ++channel)
		controller->registers[emu_first_register + 3 * datagram->led + channel] =
			datagram->values[channel];
	// 0xFFFF marks a sync datagram, so it is never handed out.
	controller->sequence = static_cast<uint16_t>(controller->sequence + 1);
	if (controller->sequence == sync_sequence)
		controller->sequence = 0;
	return true;
}

uint16_t channel_value(const emu_controller *controller, int led, int channel)
{
	return controller->registers[emu_first_register + 3 * led + channel];
}

int build_reply(const emu_controller *controller, int led, uint8_t *reply)
{
	return fill_packet(reply, controller->sequence, led, channel_value(controller, led, 0),
			   channel_value(controller, led, 1), channel_value(controller, led, 2));
}

const char *keyword_name(uint16_t pattern)
{
	switch (pattern) {
	case 0x0000:
		return "off";
	case 0xFFFF:
		return "on";
	case 0x00FF:
		return "slow";
	case 0x0F0F:
		return "norm";
	case 0x3333:
		return "fast";
	case 0x5555:
		return "ultra";
	default:
		return "custom";
	}
}

void describe_led(const emu_controller *controller, int led, char *line, size_t size)
{
	const uint16_t red = channel_value(controller, led, 0);
	const uint16_t green = channel_value(controller, led, 1);
	const uint16_t blue = channel_value(controller, led, 2);
	snprintf(line, size, "LED %d: red %s 0x%04X, green %s 0x%04X, blue %s 0x%04X (sequence 0x%04X)", led,
		 keyword_name(red), red, keyword_name(green), green, keyword_name(blue), blue,
		 controller->sequence);
}
