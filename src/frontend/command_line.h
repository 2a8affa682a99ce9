// SPDX-License-Identifier: MIT
// Command line: options, the LED index and the value keywords.
#pragma once

#include <stdint.h>

// The four settings of a run. led is 0, 1 or 2; the channel patterns sit in
// the low 16 bits. All zero until the command line sets them.
struct led_settings {
	int32_t led;
	int32_t red;
	int32_t green;
	int32_t blue;
};

// How reading the command line ended.
enum command_result {
	command_run,         // settings filled; go on with the exchange
	command_help,        // -h / --help: show the usage text, exit 0
	command_usage_error, // unknown option or missing argument: usage text, exit 1
};

// Reads the options in order, later ones overwriting earlier ones, and stops
// at the first that ends the run. Conversion messages are printed as each
// option is met. Arguments that are not options are ignored.
command_result parse_command_line(int argc, char **argv, led_settings *settings);

// The LED index from text: strtol base 0, clamped to 32 bits (an ERROR line
// on standard error when the conversion reports an error), then modulo 3.
int32_t convert_led_index(const char *text);

// The 16-bit pattern that a value keyword selects, matched without regard to
// case; any other text selects 0x0000.
int32_t parse_led_value(const char *text);

// True when text, upper-cased byte by byte with toupper, equals keyword
// upper-cased as toupper does in the POSIX locale (only a to z change).
bool matches_keyword(const char *text, const char *keyword);

// Writes the usage text to standard output in one block.
void print_usage();
