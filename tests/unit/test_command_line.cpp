// SPDX-License-Identifier: MIT
// The command line: LED index conversion, value keywords and the option loop.
// The same tests run on the 64-bit host and on the 32-bit device, where long
// has another width: every conversion must come out alike on both.
#include "command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace
{

struct index_case {
	const char *text;
	int32_t led;
	const char *error; // the ERROR line expected on standard error, or ""
};

const char out_of_range[] = "error 34, Numerical result out of range\n";

TEST(LedIndex, ConvertsLikeStrtolThenModuloThree)
{
	// clang-format off
	const index_case cases[] = {
		{"0", 0, ""},
		{"1", 1, ""},
		{"2", 2, ""},
		{"3", 0, ""},
		{"4", 1, ""},
		{"-1", 0, ""},   // taken as 0xFFFFFFFF
		{"-2", 2, ""},
		{"+5", 2, ""},
		{"0x2", 2, ""},
		{"0X2", 2, ""},
		{"010", 2, ""},  // octal 8
		{"09", 0, ""},   // octal stops at the 9
		{"abc", 0, ""},  // no digits
		{"", 0, ""},
		{"  \t7", 1, ""}, // leading blanks
		{"5 apples", 2, ""},
		{"2147483647", 1, ""},
		{"-2147483648", 2, ""},
		{"0x7fffffff", 1, ""},
	};
	// clang-format on
	for (const index_case &c : cases) {
		testing::internal::CaptureStderr();
		EXPECT_EQ(convert_led_index(c.text), c.led) << '"' << c.text << '"';
		EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error) << '"' << c.text << '"';
	}
}

TEST(LedIndex, OutOfRangeIsClampedTo32BitsAndReported)
{
	const index_case cases[] = {
		{"2147483648", 1, "ERROR: 2147483648 "},   // just above: INT32_MAX
		{"99999999999", 1, "ERROR: 99999999999 "}, // INT32_MAX % 3 = 1
		{"-2147483649", 2, "ERROR: -2147483649 "}, // just below: INT32_MIN
		{"-99999999999", 2, "ERROR: -99999999999 "},
		{"0xffffffff", 1, "ERROR: 0xffffffff "},
		{"99999999999999999999999", 1, "ERROR: 99999999999999999999999 "},
	};
	for (const index_case &c : cases) {
		testing::internal::CaptureStderr();
		EXPECT_EQ(convert_led_index(c.text), c.led) << c.text;
		EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(c.error) + out_of_range)
			<< c.text;
	}
}

TEST(LedValue, KeywordsMatchInAnyCase)
{
	const struct {
		const char *text;
		int32_t pattern;
	} cases[] = {
		{"ON", 0xFFFF},        {"on", 0xFFFF},      {"On", 0xFFFF},    {"oN", 0xFFFF},
		{"slow", 0x00FF},      {"SLOW", 0x00FF},    {"sLoW", 0x00FF},  {"norm", 0x0F0F},
		{"NORM", 0x0F0F},      {"Norm", 0x0F0F},    {"fast", 0x3333},  {"FAST", 0x3333},
		{"fAsT", 0x3333},      {"ultra", 0x5555},   {"ULTRA", 0x5555}, {"UltRA", 0x5555},
		{"off", 0x0000},       {"OFF", 0x0000},     {"", 0x0000},      {"ON ", 0x0000},
		{" ON", 0x0000},       {"O", 0x0000},       {"ONN", 0x0000},   {"1", 0x0000},
		{"0xFFFF", 0x0000},    {"ultra\n", 0x0000}, {"fas", 0x0000},   {"xyz", 0x0000},
		{"\xC3\xB6n", 0x0000}, // bytes above 0x7F are never upper-cased
	};
	for (const auto &c : cases)
		EXPECT_EQ(parse_led_value(c.text), c.pattern) << '"' << c.text << '"';
}

// Only a to z are upper-cased, in the text and in the keyword alike: the
// bytes either side of them ('`', '{', '@', '[') and above 0x7F stay as they
// are, so none of them matches another.
TEST(LedValue, OnlyLettersChangeCase)
{
	const struct {
		const char *text;
		const char *keyword;
		bool matches;
	} cases[] = {
		{"ON{", "on{", true},    {"on{", "on[", false}, {"ON[", "on{", false}, {"~", "~", true},
		{"^", "~", false},       {"@", "`", false},     {"`", "`", true},      {"\xE9", "\xE9", true},
		{"\xC9", "\xE9", false}, {"Z", "z", true},      {"A", "a", true},      {"on", "on{", false},
	};
	for (const auto &c : cases)
		EXPECT_EQ(matches_keyword(c.text, c.keyword), c.matches)
			<< '"' << c.text << "\" ~ \"" << c.keyword << '"';
}

TEST(LedValue, LeavesItsArgumentAlone)
{
	char text[] = "fAsT";
	EXPECT_EQ(parse_led_value(text), 0x3333);
	EXPECT_STREQ(text, "fAsT");
}

// Runs parse_command_line over "glow_ctl" followed by args, as main would.
struct parsed {
	command_result result;
	led_settings settings;
	std::string errors;
};

parsed parse(std::initializer_list<const char *> args)
{
	std::vector<std::string> words{"glow_ctl"};
	words.insert(words.end(), args.begin(), args.end());
	std::vector<char *> argv;
	argv.reserve(words.size() + 1);
	for (std::string &word : words)
		argv.push_back(word.data());
	argv.push_back(nullptr);

	parsed out{};
	testing::internal::CaptureStderr();
	out.result = parse_command_line(static_cast<int>(words.size()), argv.data(), &out.settings);
	out.errors = testing::internal::GetCapturedStderr();
	return out;
}

void expect_settings(const parsed &got, int32_t led, int32_t red, int32_t green, int32_t blue)
{
	EXPECT_EQ(got.settings.led, led);
	EXPECT_EQ(got.settings.red, red);
	EXPECT_EQ(got.settings.green, green);
	EXPECT_EQ(got.settings.blue, blue);
}

TEST(CommandLine, OptionsFillTheSettingsInOrder)
{
	parsed got = parse({});
	EXPECT_EQ(got.result, command_run);
	expect_settings(got, 0, 0, 0, 0);

	got = parse({"-l", "2", "-r", "on", "-g", "slow", "-b", "ultra"});
	EXPECT_EQ(got.result, command_run);
	expect_settings(got, 2, 0xFFFF, 0x00FF, 0x5555);

	// Later options overwrite earlier ones.
	got = parse({"-r", "on", "-r", "off", "-l", "1", "-l", "2"});
	expect_settings(got, 2, 0, 0, 0);

	// Long options, with "=", and unambiguous abbreviations.
	got = parse({"--led", "1", "--red=fast", "--gr", "norm", "--b=ULTRA"});
	EXPECT_EQ(got.result, command_run);
	expect_settings(got, 1, 0x3333, 0x0F0F, 0x5555);

	// Arguments that are not options are ignored wherever they stand.
	got = parse({"stray", "-l", "1", "more", "-gfast"});
	EXPECT_EQ(got.result, command_run);
	expect_settings(got, 1, 0, 0x3333, 0);
	EXPECT_EQ(got.errors, "");
}

TEST(CommandLine, HelpEndsTheLoopAfterWhatCameBefore)
{
	parsed got = parse({"-l", "99999999999", "-r", "on", "-h", "-g", "on", "-x"});
	EXPECT_EQ(got.result, command_help);
	expect_settings(got, 1, 0xFFFF, 0, 0); // -g and -x never read
	EXPECT_EQ(got.errors, "ERROR: 99999999999 error 34, Numerical result out of range\n");

	got = parse({"--help"});
	EXPECT_EQ(got.result, command_help);
	got = parse({"--he"});
	EXPECT_EQ(got.result, command_help);
}

TEST(CommandLine, UsageErrorsAreReportedByTheParser)
{
	const struct {
		std::initializer_list<const char *> args;
		const char *message;
	} cases[] = {
		{{"-x"}, "glow_ctl: invalid option -- 'x'\n"},
		{{"-l", "1", "-r"}, "glow_ctl: option requires an argument -- 'r'\n"},
		{{"--bogus"}, "glow_ctl: unrecognized option '--bogus'\n"},
		{{"--red"}, "glow_ctl: option '--red' requires an argument\n"},
		{{"--help=now"}, "glow_ctl: option '--help' doesn't allow an argument\n"},
		{{"-x", "-h"}, "glow_ctl: invalid option -- 'x'\n"},
	};
	for (const auto &c : cases) {
		const parsed got = parse(c.args);
		EXPECT_EQ(got.result, command_usage_error) << c.message;
		EXPECT_EQ(got.errors, c.message);
	}
}

} // namespace
