// SPDX-License-Identifier: MIT
// The value keywords and the 16-bit patterns they select: glow_ctl reads
// them, glow_emu names the patterns it holds, the fuzz target checks
// against them. A pattern is sent as is, most significant bit first; each
// set bit lights the channel for one step of the controller's cycle.
#pragma once

#include <stdint.h>

struct value_keyword {
	const char *name; // lower case; matched without regard to case
	int32_t pattern;
};

// Any text that is not one of these selects off's 0x0000 too.
inline constexpr value_keyword value_keywords[] = {
	{"off", 0x0000},  {"on", 0xFFFF},   {"slow", 0x00FF},
	{"norm", 0x0F0F}, {"fast", 0x3333}, {"ultra", 0x5555},
};
