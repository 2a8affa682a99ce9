// SPDX-License-Identifier: MIT
// glow_emu --show: the three LEDs drawn in place in a terminal, each channel
// playing its 16-bit pattern one bit per tick, most significant bit first.
#pragma once

#include "emu_protocol.h"

#include <cstddef>
#include <cstdint>

inline constexpr int show_default_tick_ms = 62; // 1/16 s: a pattern a second
inline constexpr int show_frame_lines = 6;      // endpoint, last exchange, three LEDs, note
inline constexpr int show_default_columns = 80; // when the terminal does not say

struct emu_show {
	// What the frame shows besides the registers.
	const char *endpoint;               // "address:port" the emulator listens on
	char last_exchange[96];             // time, kind and sender of the last datagram
	char last_write[emu_led_count][32]; // time of each LED's last applied write
	char note[256];                     // the last malformed or stale datagram
	int columns;                        // the terminal's width: no line is longer
	bool drawn;                         // a frame is on the screen, to be overwritten
	bool clear;                         // the screen is cleared first (after a resize)

	// The drawing itself, while the view runs.
	bool showing;       // drawing live frames (--show, on a terminal, colour allowed)
	long tick_ms;       // one pattern bit per tick
	long long start_ms; // when tick 0 began
	long drawn_tick;    // the tick of the frame on screen
	bool dirty;         // the state changed since that frame
};

// Whether a channel with this pattern is lit at this tick.
bool pattern_lit(uint16_t pattern, long tick);

// The LED's colour at this tick as a red | green << 1 | blue << 2 mix, which
// is also the ANSI colour number (0 black, 1 red, 2 green, 3 yellow, 4 blue,
// 5 magenta, 6 cyan, 7 white).
int led_colour(const emu_controller *controller, int led, long tick);

// Writes the frame for this tick into out (NUL-terminated): the endpoint and
// sequence, the last exchange, one line per LED with its coloured block,
// keywords, values and (where the width allows) last write, and the note.
// Every line is cut to show->columns, never wrapped. When a frame is already
// drawn, the text first moves the cursor back over it and every line
// overwrites the old one in place (no clearing, so no flicker); with
// show->clear it clears the screen and starts at its top instead. Returns
// the length.
size_t render_frame(const emu_controller *controller, const emu_show *show, long tick, char *out,
		    size_t size);

// Starts the view when stdout is a terminal and NO_COLOR is not set: hides
// the cursor, follows the terminal's width (also when it changes) and draws
// the first frame. Returns whether the view runs; if not, the emulator
// prints plain lines.
bool start_show(emu_show *show, const emu_controller *controller, const char *endpoint, long tick_ms);

// Draws a frame when the tick moved on, the state changed or the terminal
// was resized.
void draw_show(emu_show *show, const emu_controller *controller);

// When the next tick begins, on the monotonic clock in ms.
long long next_show_tick_ms(const emu_show *show);

// Leaves the terminal as it was: last frame kept, colours reset, cursor back.
void stop_show(emu_show *show, const emu_controller *controller);

// What the frame reports: a datagram's kind and sender, an applied write to
// led, a malformed or stale datagram.
void show_exchange(emu_show *show, const char *kind, const char *peer);
void show_write(emu_show *show, int led);
void show_note(emu_show *show, const char *text);
