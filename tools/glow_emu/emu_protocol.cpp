// SPDX-License-Identifier: MIT
#include "emu_protocol.h"

#include "packet.h"
#include "value_keywords.h"

#include <cstdint>
#include <cstdio>

// Bytes that are neither the sequence nor a register entry must be exactly
// what every datagram carries: the fixed bytes and zeros.
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

// The register number, or value, of a channel's entry.
static unsigned entry_register(const uint8_t *bytes, int channel)
{
	return static_cast<unsigned>(read_u16(bytes + packet_entry_offset(channel)));
}

static uint16_t entry_value(const uint8_t *bytes, int channel)
{
	return static_cast<uint16_t>(read_u16(bytes + packet_entry_offset(channel) + packet_entry_value));
}

// The LED whose red, green and blue registers the entries name in order, or
// -1 when they are not one LED's.
static int entries_led(const uint8_t *bytes)
{
	const unsigned red = entry_register(bytes, 0);
	if (red < packet_first_register || (red - packet_first_register) % packet_channels != 0)
		return -1;
	const unsigned led = (red - packet_first_register) / packet_channels;
	if (led >= emu_led_count)
		return -1;
	for (int channel = 1; channel < packet_channels; ++channel)
		if (entry_register(bytes, channel) != red + static_cast<unsigned>(channel))
			return -1;
	return static_cast<int>(led);
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
	const int led = entries_led(bytes);
	if (led < 0) {
		snprintf(why, why_size, "registers %u, %u, %u are not one LED's", entry_register(bytes, 0),
			 entry_register(bytes, 1), entry_register(bytes, 2));
		return false;
	}
	datagram->sequence = static_cast<uint16_t>(read_sequence(bytes));
	datagram->is_sync = datagram->sequence == sync_sequence;
	datagram->led = led;
	for (int channel = 0; channel < packet_channels; ++channel)
		datagram->values[channel] = entry_value(bytes, channel);
	return true;
}

bool apply_write(emu_controller *controller, const emu_datagram *datagram)
{
	if (datagram->sequence != controller->sequence)
		return false;
	for (int channel = 0; channel < packet_channels; ++channel)
		controller->registers[packet_first_register + packet_channels * datagram->led + channel] =
			datagram->values[channel];
	controller->written[datagram->led] = true;
	controller->written_with[datagram->led] = datagram->sequence;
	// 0xFFFF marks a sync datagram, so it is never handed out.
	controller->sequence = static_cast<uint16_t>(controller->sequence + 1);
	if (controller->sequence == sync_sequence)
		controller->sequence = 0;
	return true;
}

uint16_t channel_value(const emu_controller *controller, int led, int channel)
{
	return controller->registers[packet_first_register + packet_channels * led + channel];
}

int build_reply(const emu_controller *controller, int led, uint8_t *reply)
{
	return fill_packet(reply, controller->sequence, led, channel_value(controller, led, 0),
			   channel_value(controller, led, 1), channel_value(controller, led, 2));
}

const char *keyword_name(uint16_t pattern)
{
	for (const value_keyword &keyword : value_keywords)
		if (keyword.pattern == pattern)
			return keyword.name;
	return "custom";
}

void describe_led(const emu_controller *controller, int led, char *line, size_t size)
{
	const uint16_t red = channel_value(controller, led, 0);
	const uint16_t green = channel_value(controller, led, 1);
	const uint16_t blue = channel_value(controller, led, 2);
	char origin[40] = "never written";
	if (controller->written[led])
		snprintf(origin, sizeof origin, "write 0x%04X", controller->written_with[led]);
	snprintf(line, size, "LED %d: red %s 0x%04X, green %s 0x%04X, blue %s 0x%04X (%s)", led,
		 keyword_name(red), red, keyword_name(green), green, keyword_name(blue), blue, origin);
}
