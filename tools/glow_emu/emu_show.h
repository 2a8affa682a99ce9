// glow_emu --show: the three LEDs drawn in place in a terminal, each channel
// playing its 16-bit pattern one bit per tick, most significant bit first.
#pragma once

#include "emu_protocol.h"

#include <cstddef>
#include <cstdint>

inline constexpr int show_default_tick_ms = 62; // 1/16 s: a pattern a second
inline constexpr int show_frame_lines = 5;      // header, three LEDs, note

struct emu_show {
	const char *endpoint;               // "address:port" the emulator listens on
	char last_exchange[96];             // time, kind and sender of the last datagram
	char last_write[emu_led_count][32]; // time of each LED's last applied write
	char note[256];                     // the last malformed or stale datagram
	bool drawn;                         // a frame is on the screen, to be overwritten
};

// Whether a channel with this pattern is lit at this tick.
bool pattern_lit(uint16_t pattern, long tick);

// The LED's colour at this tick as a red | green << 1 | blue << 2 mix, which
// is also the ANSI colour number (0 black, 1 red, 2 green, 3 yellow, 4 blue,
// 5 magenta, 6 cyan, 7 white).
int led_colour(const emu_controller *controller, int led, long tick);

// Writes the frame for this tick into out (NUL-terminated): the header, one
// line per LED with its coloured block, keywords, values and last write, and
// the note. When a frame is already drawn, the text first moves the cursor
// back over it, and every line overwrites the old one in place (no clearing,
// so no flicker). Returns the length.
size_t render_frame(const emu_controller *controller, const emu_show *show, long tick, char *out,
		    size_t size);
