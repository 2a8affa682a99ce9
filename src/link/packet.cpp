// SPDX-License-Identifier: MIT
#include "packet.h"

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
	buffer[2] = 0x40;
	buffer[3] = 0x20;
	put_u16(buffer + packet_sequence_offset, static_cast<uint32_t>(sequence));
	buffer[28] = 0x02;

	// Unsigned arithmetic: any led value wraps instead of overflowing.
	const uint32_t first_register = 3U * static_cast<uint32_t>(led) + 4U;
	uint8_t *entry = buffer + packet_entries_offset;
	put_u16(entry + 0, first_register);
	put_u16(entry + 2, static_cast<uint32_t>(red));
	put_u16(entry + 4, first_register + 1U);
	put_u16(entry + 6, static_cast<uint32_t>(green));
	put_u16(entry + 8, first_register + 2U);
	put_u16(entry + 10, static_cast<uint32_t>(blue));

	return packet_length;
}

int read_sequence(const uint8_t *buffer)
{
	return buffer[packet_sequence_offset] << 8 | buffer[packet_sequence_offset + 1];
}
