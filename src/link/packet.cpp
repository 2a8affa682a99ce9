// SPDX-License-Identifier: MIT
#include "packet.h"

#include <stdint.h>
#include <string.h>

// Stores the low 16 bits of value at at[0..1], most significant byte first.
static void put_u16(uint8_t *at, uint32_t value)
{
	at[0] = static_cast<uint8_t>(value >> 8);
	at[1] = static_cast<uint8_t>(value);
}

int fill_packet(uint8_t *buffer, int sequence, int led, int red, int green, int blue)
{
	// Clear everything first: when the write datagram is built, the buffer
	// still holds the controller's reply, and none of it may leak through.
	memset(buffer, 0, packet_length);

	put_u16(buffer, packet_length);
	put_u16(buffer + packet_tag_offset, packet_tag);
	put_u16(buffer + packet_sequence_offset, static_cast<uint32_t>(sequence));
	buffer[packet_marker_offset] = packet_marker;

	// Unsigned arithmetic: any led value wraps instead of overflowing.
	const uint32_t first_register = packet_channels * static_cast<uint32_t>(led) + packet_first_register;
	const int32_t values[packet_channels] = {red, green, blue};
	for (int channel = 0; channel < packet_channels; ++channel) {
		uint8_t *entry = buffer + packet_entry_offset(channel);
		put_u16(entry, first_register + static_cast<uint32_t>(channel));
		put_u16(entry + packet_entry_value, static_cast<uint32_t>(values[channel]));
	}
	return packet_length;
}

int read_u16(const uint8_t *at)
{
	return at[0] << 8 | at[1];
}

int read_sequence(const uint8_t *buffer)
{
	return read_u16(buffer + packet_sequence_offset);
}
