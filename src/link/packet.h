// SPDX-License-Identifier: MIT
// Register-write datagram: the one format exchanged with the LED controller.
#pragma once

#include <stdint.h>

// Every datagram is this long; the value also stands in its first two bytes.
inline constexpr int packet_length = 44;

// Where the fields sit; multi-byte fields are big-endian, and every byte not
// named here is zero.
inline constexpr int packet_tag_offset = 2;      // two fixed bytes, 0x40 0x20
inline constexpr int packet_sequence_offset = 6; // the sequence, two bytes
inline constexpr int packet_marker_offset = 28;  // one fixed byte, 0x02
inline constexpr int packet_entries_offset = 32; // the register entries
inline constexpr int packet_entry_size = 4;      // register number, then value
inline constexpr int packet_entry_value = 2;     // the value's offset in an entry

// Where the entry of channel (0 red, 1 green, 2 blue) starts.
constexpr int packet_entry_offset(int channel)
{
	return packet_entries_offset + channel * packet_entry_size;
}

// The fixed bytes every datagram carries, sync, write and reply alike.
inline constexpr int packet_tag = 0x4020;
inline constexpr uint8_t packet_marker = 0x02;

// One entry per channel, red, green and blue, for registers 3*led+4, +5 and
// +6: LED 0 is registers 4..6, LED 2 registers 10..12.
inline constexpr int packet_channels = 3;
inline constexpr int packet_first_register = 4;

// The sequence of a sync datagram, and the value that stays in the buffer
// when no reply overwrites it.
inline constexpr int sync_sequence = 0xFFFF;

// Writes bytes 0..43 of buffer: the fixed bytes, the sequence and the three
// register entries of LED led with the red, green and blue values. Each
// field takes the low 16 bits of its argument. Bytes from 44 on are left
// alone. Returns the datagram's length, 44.
int fill_packet(uint8_t *buffer, int sequence, int led, int red, int green, int blue);

// The big-endian 16-bit field at at.
int read_u16(const uint8_t *at);

// The sequence that a datagram in buffer carries: byte 6 high, byte 7 low.
int read_sequence(const uint8_t *buffer);
