// SPDX-License-Identifier: MIT
// The emulated LED controller's side of the register-write protocol:
// decoding datagrams, the register state, and the replies.
#pragma once

#include "packet.h"

#include <cstddef>
#include <cstdint>

inline constexpr int emu_led_count = 3;

struct emu_controller {
	uint16_t registers[packet_first_register + packet_channels * emu_led_count]; // 4..12 used
	uint16_t sequence;                    // handed out in the next reply; a write must carry it
	uint16_t written_with[emu_led_count]; // the sequence of the write that set each LED
	bool written[emu_led_count];          // whether any write has set it
};

struct emu_datagram {
	bool is_sync; // sequence 0xFFFF: asks for the current sequence
	uint16_t sequence;
	int led;
	uint16_t values[packet_channels]; // red, green, blue
};

// Decodes a received datagram. On a malformed one returns false with a
// one-line reason (no newline) in why.
bool decode_datagram(const uint8_t *bytes, size_t length, emu_datagram *datagram, char *why, size_t why_size);

// Applies a write datagram when it carries the sequence last handed out, and
// then advances the sequence. Returns false for a stale write, which changes
// nothing.
bool apply_write(emu_controller *controller, const emu_datagram *datagram);

// Builds the reply to a sync datagram for led in reply (at least 44 bytes):
// a register-write datagram carrying the current sequence and the LED's
// current values. Returns its length, 44.
int build_reply(const emu_controller *controller, int led, uint8_t *reply);

// The value keyword that selects pattern ("on", "slow", ...), "custom" if none.
const char *keyword_name(uint16_t pattern);

// One readable line (no newline) with the LED's index, each channel's
// keyword and hex value, and the write that set them, by its sequence:
// "(write 0x0001)", or "(never written)".
void describe_led(const emu_controller *controller, int led, char *line, size_t size);

// The value of channel (0 red, 1 green, 2 blue) of led.
uint16_t channel_value(const emu_controller *controller, int led, int channel);
