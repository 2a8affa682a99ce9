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

// Searched in this order. "off" comes last, for its name: any text that
// matches none of the others selects 0x0000 anyway, off included.
inline constexpr value_keyword value_keywords[] = {
	{"on", 0xFFFF},   {"slow", 0x00FF},  {"norm", 0x0F0F},
	{"fast", 0x3333}, {"ultra", 0x5555}, {"off", 0x0000},
};
