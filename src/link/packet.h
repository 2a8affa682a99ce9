// SPDX-License-Identifier: MIT
// Register-write datagram: the one format exchanged with the LED controller.
#pragma once

#include <stdint.h>

// Every datagram is this long; the value also stands in its first two bytes.
inline constexpr int packet_length = 44;

// Where the fields sit; multi-byte fields are big-endian.
inline constexpr int packet_sequence_offset = 6;
inline constexpr int packet_entries_offset = 32; // three (register, value) pairs

// The sequence of a sync datagram, and the value that stays in the buffer
// when no reply overwrites it.
inline constexpr int sync_sequence = 0xFFFF;

// Writes bytes 0..43 of buffer: the fixed header, the sequence and the three
// register entries of LED led (registers 3*led+4, +5, +6) with the red, green
// and blue values. Each field takes the low 16 bits of its argument. Bytes
// from 44 on are left alone. Returns the datagram's length, 44.
int fill_packet(uint8_t *buffer, int sequence, int led, int red, int green, int blue);

// The sequence that a datagram in buffer carries: byte 6 high, byte 7 low.
int read_sequence(const uint8_t *buffer);
