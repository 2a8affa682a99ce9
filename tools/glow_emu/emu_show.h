// SPDX-License-Identifier: MIT
// Everything glow_emu tells its user while it serves. With --show on a
// terminal, the live view: the three LEDs drawn in place, each channel
// playing its 16-bit pattern one bit per tick, most significant bit first,
// and every event goes into the frame (so nothing scrolls the drawing
// away). Otherwise each event is a plain line.
#pragma once

#include "emu_protocol.h"

#include <cstddef>
#include <cstdint>

inline constexpr int show_default_tick_ms = 62; // 1/16 s: a pattern a second
inline constexpr int show_frame_lines = 6;      // endpoint, last exchange, three LEDs, note
inline constexpr int show_default_columns = 80; // when the terminal does not say
inline constexpr int show_footer_lines = 8;     // footer lines when the terminal's height is unknown

struct emu_show {
	bool quiet; // no change lines (notes still print)

	// What the frame shows besides the registers.
	const char *endpoint;               // "address:port" the emulator listens on
	char last_exchange[96];             // time, kind and sender of the last datagram
	char last_write[emu_led_count][32]; // time of each LED's last applied write
	char note[256];                     // the last malformed or stale datagram
	const char *footer_path;            // a file whose last lines end the frame, or null
	char footer[2048];                  // those lines, as last read
	const char *hint;                   // a line above the footer while the view runs, or null
	int drawn_lines;                    // lines of the frame on screen
	int columns;                        // the terminal's width: no line is longer
	int rows;                           // its height, or 0 where it does not say
	bool drawn;                         // a frame is on the screen, to be overwritten
	bool clear;                         // the screen is cleared first (after a resize)

	// The drawing itself, while the view runs.
	bool showing;       // the live view runs (--show, on a terminal, colour allowed)
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
// keywords, values and (where the width allows) last write, the note, and
// the hint where it fits whole (its width, and a row that the footer's
// lines leave), and as many of the footer's last lines as the terminal's
// height leaves room for (show_footer_lines where it does not say).
// Every line is cut to show->columns, never wrapped. When a frame is already
// drawn, the text first moves the cursor back over its show->drawn_lines
// lines and every line
// overwrites the old one in place (no clearing, so no flicker); with
// show->clear it clears the screen and starts at its top instead. Returns
// the length. With a footer file, what lay below the old frame is cleared.
size_t render_frame(const emu_controller *controller, const emu_show *show, long tick, char *out,
		    size_t size);

// Starts the live view when asked for (show) and stdout is a terminal and
// NO_COLOR is not set: hides the cursor, follows the terminal's width (also
// when it changes) and draws the first frame. Otherwise the emulator prints
// plain lines, and with quiet no change lines.
void start_output(emu_show *show, const emu_controller *controller, const char *endpoint, bool live,
		  bool quiet, long tick_ms, const char *footer_path, const char *hint);

// The number of lines render_frame writes for show as it is.
int frame_lines(const emu_show *show);

// A datagram arrived: its kind ("sync", "write") and sender.
void output_exchange(emu_show *show, const char *kind, const char *peer);

// A write was applied to led: its new state.
void output_write(emu_show *show, const emu_controller *controller, int led);

// Something worth a line about a datagram: malformed, stale.
void output_note(emu_show *show, const char *text);

// Draws a frame when the tick moved on, the state changed or the terminal
// was resized; when the next tick begins, on the monotonic clock in ms, or
// -1 without a view.
void refresh_output(emu_show *show, const emu_controller *controller);
long long next_output_ms(const emu_show *show);

// Ends the output: the view's last frame, without the hint (what it offers
// ends with the view), stays on screen, colours reset and
// cursor back; without a view (and unless quiet), the state of every LED
// and the next sequence; then the datagram count.
void stop_output(emu_show *show, const emu_controller *controller, long received);
