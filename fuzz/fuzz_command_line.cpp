// SPDX-License-Identifier: MIT
// Fuzzes the command line: the input, split at NUL bytes, is the argument
// vector after "glow_ctl", parsed by the same code the program runs. Run it
// with -close_fd_mask=2: the parser's diagnostics and the ERROR lines would
// drown the fuzzer's own output.
#include "command_line.h"
#include "value_keywords.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

constexpr int max_arguments = 24;
constexpr size_t max_text = 4096;

// Whether value is what one of the keywords selects.
bool is_pattern(int32_t value)
{
	for (const value_keyword &keyword : value_keywords)
		if (keyword.pattern == value)
			return true;
	return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size > max_text)
		return 0;
	static char text[max_text + 1];
	static char original[max_text + 1];
	memcpy(text, data, size);
	text[size] = '\0';
	memcpy(original, text, size + 1);

	static char program[] = "glow_ctl";
	char *argv[max_arguments + 2] = {program};
	int argc = 1;
	for (size_t start = 0; start <= size && argc <= max_arguments; start += strlen(text + start) + 1)
		argv[argc++] = text + start;
	argv[argc] = nullptr;

	led_settings settings{};
	parse_command_line(argc, argv, &settings);
	if (settings.led < 0 || settings.led > 2)
		abort();
	if (!is_pattern(settings.red) || !is_pattern(settings.green) || !is_pattern(settings.blue))
		abort();
	// The parser may reorder argv, but never writes into an argument.
	if (memcmp(text, original, size + 1) != 0)
		abort();
	return 0;
}
