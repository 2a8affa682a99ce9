// SPDX-License-Identifier: MIT
#include "command_line.h"
#include "value_keywords.h"
#include "version.h"

#include <getopt.h>

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char usage_text[] = "Usage: glow_ctl [options]\n"
				 "\n"
				 "Version " GLOW_VERSION "\n"
				 "Options:\n"
				 "  -l / --led  : led to set\n"
				 "  -r / --red  : value of red led\n"
				 "  -g / --green: value of green led\n"
				 "  -b / --blue : value of blue led\n"
				 "Available values: off/slow/norm/fast/ultra/on\n";

static const char short_options[] = "hl:r:g:b:";

// clang-format off
static const option long_options[] = {
	{"led",   required_argument, nullptr, 'l'},
	{"red",   required_argument, nullptr, 'r'},
	{"green", required_argument, nullptr, 'g'},
	{"blue",  required_argument, nullptr, 'b'},
	{"help",  no_argument,       nullptr, 'h'},
	{nullptr, 0,                 nullptr, 0},
};
// clang-format on

// A keyword's byte upper-cased as toupper does in the POSIX locale (only a
// to z change), without a library call for the program's own text.
static int upper_keyword_byte(unsigned char byte)
{
	return byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte;
}

// Compares in place, so the argument is neither modified nor copied.
bool matches_keyword(const char *text, const char *keyword)
{
	for (; *keyword != '\0'; ++text, ++keyword)
		if (toupper(static_cast<unsigned char>(*text)) != upper_keyword_byte(*keyword))
			return false;
	return *text == '\0';
}

int32_t parse_led_value(const char *text)
{
	for (const value_keyword &keyword : value_keywords)
		if (matches_keyword(text, keyword.name))
			return keyword.pattern;
	return 0x0000;
}

// strtol narrowed to 32 bits. Where long is wider than 32 bits (64-bit hosts)
// the clamp and ERANGE are done here, so that the device's 32-bit long and a
// 64-bit host convert every text alike. Text without digits is 0 and no
// error on every C library: glibc says nothing, but musl sets EINVAL.
static int32_t strtol_32(const char *text)
{
	char *end = nullptr;
	long value = strtol(text, &end, 0);
	if (end == text) {
		errno = 0;
		return 0;
	}
	if (value > INT32_MAX) {
		value = INT32_MAX;
		errno = ERANGE;
	} else if (value < INT32_MIN) {
		value = INT32_MIN;
		errno = ERANGE;
	}
	return static_cast<int32_t>(value);
}

int32_t convert_led_index(const char *text)
{
	errno = 0;
	const int32_t value = strtol_32(text);
	const int error = errno;
	if (error != 0)
		fprintf(stderr, "ERROR: %s error %d, %s\n", text, error, strerror(error));
	// Taken as unsigned, so -1 selects LED 0 and INT32_MIN LED 2.
	return static_cast<int32_t>(static_cast<uint32_t>(value) % 3U);
}

command_result parse_command_line(int argc, char **argv, led_settings *settings)
{
	// 0 rather than 1 makes getopt start afresh, should it be called again.
	optind = 0;
	for (;;) {
		const int option = getopt_long(argc, argv, short_options, long_options, nullptr);
		switch (option) {
		case -1:
			return command_run;
		case 'l':
			settings->led = convert_led_index(optarg);
			break;
		case 'r':
			settings->red = parse_led_value(optarg);
			break;
		case 'g':
			settings->green = parse_led_value(optarg);
			break;
		case 'b':
			settings->blue = parse_led_value(optarg);
			break;
		case 'h':
			return command_help;
		default: // getopt_long has already said what was wrong
			return command_usage_error;
		}
	}
}

void print_usage()
{
	fwrite(usage_text, 1, sizeof usage_text - 1, stdout);
}
