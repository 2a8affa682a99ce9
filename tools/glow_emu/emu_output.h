// SPDX-License-Identifier: MIT
// Everything glow_emu tells its user while it serves goes through here. For
// each event this decides, in one place, where it goes: into the live view
// when that runs (so nothing scrolls the drawing away), or out as a plain
// line otherwise.
#pragma once

#include "emu_protocol.h"
#include "emu_show.h"

struct emu_output {
	bool quiet;    // no change lines (notes still print)
	bool live;     // the live view runs: events go there, not to plain lines
	emu_show show; // the live view's own state, for emu_show alone
};

// Starts the live view when asked for and the terminal allows it.
void start_output(emu_output *output, const emu_controller *controller, const char *endpoint, bool show,
		  bool quiet, long tick_ms);

// A datagram arrived: its kind ("sync", "write") and sender.
void output_exchange(emu_output *output, const char *kind, const char *peer);

// A write was applied to led: its new state.
void output_write(emu_output *output, const emu_controller *controller, int led);

// Something worth a line about a datagram: malformed, stale.
void output_note(emu_output *output, const char *text);

// Redraws the live view when its time has come; when the next redraw is
// due on the monotonic clock, or -1 without a view.
void refresh_output(emu_output *output, const emu_controller *controller);
long long next_output_ms(const emu_output *output);

// Ends the output: the view's last frame stays on screen; without a view
// (and unless quiet), the state of every LED and the next sequence; then
// the datagram count.
void stop_output(emu_output *output, const emu_controller *controller, long received);
