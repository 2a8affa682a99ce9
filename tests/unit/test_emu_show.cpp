// SPDX-License-Identifier: MIT
// glow_emu --show: which bit is lit at which tick, the colour mix, and the
// frame that is drawn.
#include "emu_protocol.h"
#include "emu_show.h"
#include "packet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace
{

// The lit ticks of one pattern period as a string of '1' and '0'.
std::string played(uint16_t pattern, long first_tick)
{
	std::string bits;
	for (long tick = first_tick; tick < first_tick + 16; ++tick)
		bits += pattern_lit(pattern, tick) ? '1' : '0';
	return bits;
}

TEST(ShowPattern, PlaysMostSignificantBitFirstOneBitPerTick)
{
	EXPECT_EQ(played(0xFFFF, 0), "1111111111111111");
	EXPECT_EQ(played(0x0000, 0), "0000000000000000");
	EXPECT_EQ(played(0x00FF, 0), "0000000011111111");
	EXPECT_EQ(played(0x0F0F, 0), "0000111100001111");
	EXPECT_EQ(played(0x3333, 0), "0011001100110011");
	EXPECT_EQ(played(0x5555, 0), "0101010101010101");
	EXPECT_EQ(played(0x8001, 0), "1000000000000001");
	// The pattern repeats every 16 ticks.
	EXPECT_EQ(played(0x00FF, 16L * 1000), "0000000011111111");
	EXPECT_EQ(played(0x00FF, 4), "0000111111110000");
}

emu_controller with_led(int led, uint16_t red, uint16_t green, uint16_t blue)
{
	emu_controller controller{};
	controller.sequence = 0x0042;
	controller.registers[packet_first_register + packet_channels * led] = red;
	controller.registers[packet_first_register + packet_channels * led + 1] = green;
	controller.registers[packet_first_register + packet_channels * led + 2] = blue;
	return controller;
}

// The colour of led at tick 0 when it alone has these steady channels.
int steady_colour(int led, uint16_t red, uint16_t green, uint16_t blue, int shown_led)
{
	const emu_controller controller = with_led(led, red, green, blue);
	return led_colour(&controller, shown_led, 0);
}

TEST(ShowColour, MixesTheLitChannels)
{
	EXPECT_EQ(steady_colour(0, 0xFFFF, 0, 0, 0), 1);           // red
	EXPECT_EQ(steady_colour(0, 0, 0xFFFF, 0, 0), 2);           // green
	EXPECT_EQ(steady_colour(0, 0xFFFF, 0xFFFF, 0, 0), 3);      // yellow
	EXPECT_EQ(steady_colour(1, 0, 0, 0xFFFF, 1), 4);           // blue
	EXPECT_EQ(steady_colour(2, 0xFFFF, 0, 0xFFFF, 2), 5);      // magenta
	EXPECT_EQ(steady_colour(2, 0, 0xFFFF, 0xFFFF, 2), 6);      // cyan
	EXPECT_EQ(steady_colour(2, 0xFFFF, 0xFFFF, 0xFFFF, 2), 7); // white
	EXPECT_EQ(steady_colour(2, 0xFFFF, 0xFFFF, 0xFFFF, 1), 0); // another LED
	// Blinking channels join the mix only on their lit ticks.
	const emu_controller blinking = with_led(0, 0xFFFF, 0x00FF, 0x5555);
	EXPECT_EQ(led_colour(&blinking, 0, 0), 1);
	EXPECT_EQ(led_colour(&blinking, 0, 1), 5);
	EXPECT_EQ(led_colour(&blinking, 0, 8), 3);
	EXPECT_EQ(led_colour(&blinking, 0, 9), 7);
}

// The frame's lines as the terminal shows them: escapes dropped, the cursor
// movement before the first line and the erase after each left out.
std::vector<std::string> visible_lines(const std::string &frame)
{
	std::vector<std::string> lines(1);
	for (size_t i = 0; i < frame.size(); ++i) {
		if (frame[i] == '\033') {
			while (i < frame.size() && (frame[i] < 0x40 || frame[i] > 0x7E || frame[i] == '['))
				++i;
		} else if (frame[i] == '\n') {
			lines.emplace_back();
		} else {
			lines.back() += frame[i];
		}
	}
	lines.pop_back();
	return lines;
}

std::string render(const emu_controller &controller, const emu_show &show, long tick)
{
	static char frame[4096];
	return {frame, render_frame(&controller, &show, tick, frame, sizeof frame)};
}

emu_show shown_at(int columns)
{
	emu_show show{};
	show.endpoint = "169.254.100.2:9000";
	show.columns = columns;
	snprintf(show.last_write[1], sizeof show.last_write[1], "12:00:00.000");
	snprintf(show.last_exchange, sizeof show.last_exchange, "12:00:00.000 write from 169.254.100.1:9000");
	snprintf(show.note, sizeof show.note,
		 "glow_emu: stale write from 169.254.100.1:9000: sequence "
		 "0x0001, expected 0x0002; ignored");
	return show;
}

TEST(ShowFrame, DrawsEveryLedAndOverwritesInPlace)
{
	const emu_controller controller = with_led(1, 0xFFFF, 0xFFFF, 0x3333);
	const emu_show show = shown_at(120);
	const std::string first = render(controller, show, 2);
	EXPECT_EQ(first.rfind("glow_emu on 169.254.100.2:9000  next sequence 0x0042\033[K\n"
			      "last exchange 12:00:00.000 write from 169.254.100.1:9000\033[K\n",
			      0),
		  0U)
		<< first;
	EXPECT_NE(first.find(
			  " LED 1 \033[47m      \033[0m  red on     0xFFFF  green on     0xFFFF  blue fast   "
			  "0x3333  last write 12:00:00.000"),
		  std::string::npos)
		<< first;
	EXPECT_NE(first.find(" LED 0 \033[100m      \033[0m"), std::string::npos);
	EXPECT_EQ(visible_lines(first).size(), static_cast<size_t>(show_frame_lines));
	EXPECT_EQ(first.find("\033[6F"), std::string::npos); // nothing to go back over yet

	// The next frame moves back over the first. Blue plays fast, 0011 0011:
	// lit at tick 2 above (white with red and green), dark at tick 4 (yellow).
	emu_show drawn = show;
	drawn.drawn = true;
	const std::string next = render(controller, drawn, 4);
	EXPECT_EQ(next.rfind("\033[6F", 0), 0U);
	EXPECT_NE(next.find(" LED 1 \033[43m      "), std::string::npos) << next;
	EXPECT_EQ(next.find("\033[2J"), std::string::npos); // never clears the screen

	// After a resize the screen is cleared once and the frame starts at its top.
	drawn.clear = true;
	EXPECT_EQ(render(controller, drawn, 4).rfind("\033[H\033[2Jglow_emu on ", 0), 0U);
}

TEST(ShowFrame, FitsTheTerminalWidth)
{
	const emu_controller controller = with_led(1, 0xFFFF, 0x00FF, 0x5555);
	for (const int columns : {80, 60, 20, 1}) {
		const std::vector<std::string> lines =
			visible_lines(render(controller, shown_at(columns), 0));
		ASSERT_EQ(lines.size(), static_cast<size_t>(show_frame_lines)) << columns;
		for (const std::string &line : lines)
			EXPECT_LT(line.size(), static_cast<size_t>(columns)) << columns << ": " << line;
	}
	// 80 columns hold every channel whole; the last write's time, which does
	// not fit whole, is left out rather than cut.
	const std::vector<std::string> at80 = visible_lines(render(controller, shown_at(80), 0));
	EXPECT_EQ(at80[3], " LED 1         red on     0xFFFF  green slow   0x00FF  blue ultra  0x5555");
	// Narrower, lines are cut, and the colours are still reset after the cut.
	const std::string at60 = render(controller, shown_at(60), 0);
	EXPECT_EQ(visible_lines(at60)[3], " LED 1         red on     0xFFFF  green slow   0x00FF  blue");
	EXPECT_NE(at60.find("\033[0m"), std::string::npos);
	// Wide enough, the whole line.
	EXPECT_EQ(visible_lines(render(controller, shown_at(100), 0))[3],
		  " LED 1         red on     0xFFFF  green slow   0x00FF  blue ultra  0x5555  last write "
		  "12:00:00.000");
}

// The footer's last lines end the frame, cut to the width like the rest; the
// next frame goes back over as many lines as the last one drew, and clears
// what a longer footer left below it.
TEST(ShowFrame, EndsWithTheFootersLastLines)
{
	const emu_controller controller = with_led(0, 0, 0, 0);
	emu_show show = shown_at(40);
	show.footer_path = "footer";
	snprintf(show.footer, sizeof show.footer, "%s",
		 "1\n2\n3\n4\n5\n6\n7\n8\n9\nbind error, and a line longer than forty columns\n");
	const std::vector<std::string> lines = visible_lines(render(controller, show, 0));
	ASSERT_EQ(lines.size(), static_cast<size_t>(show_frame_lines + show_footer_lines));
	EXPECT_EQ(frame_lines(&show), show_frame_lines + show_footer_lines);
	EXPECT_EQ(lines[show_frame_lines], "3");
	// A terminal of 12 rows leaves room for 5, the cursor's line kept free.
	show.rows = 12;
	EXPECT_EQ(visible_lines(render(controller, show, 0))[show_frame_lines], "6");
	show.rows = 0;
	EXPECT_EQ(lines.back(), "bind error, and a line longer than fort"); // 39 columns

	// The last line needs no newline of its own.
	snprintf(show.footer, sizeof show.footer, "%s", "sudo ip netns exec\nno newline");
	EXPECT_EQ(frame_lines(&show), show_frame_lines + 2);
	EXPECT_EQ(visible_lines(render(controller, show, 0)).back(), "no newline");

	show.drawn = true;
	show.drawn_lines = show_frame_lines + show_footer_lines;
	const std::string next = render(controller, show, 1);
	EXPECT_EQ(next.rfind("\033[14F", 0), 0U) << next;
	EXPECT_EQ(next.substr(next.size() - 3), "\033[J");
}

// The hint stands above the footer only whole: a narrower terminal, or a
// footer that needs every row, leaves it out rather than cut.
TEST(ShowFrame, ShowsTheHintWholeOrNotAtAll)
{
	const emu_controller controller = with_led(0, 0, 0, 0);
	emu_show show = shown_at(40);
	show.footer_path = "footer";
	show.hint = "ip netns exec ns /x/glow_ctl -l 2";
	snprintf(show.footer, sizeof show.footer, "%s", "$ glow_ctl\n(exit status 0)\n");
	std::vector<std::string> lines = visible_lines(render(controller, show, 0));
	ASSERT_EQ(lines.size(), static_cast<size_t>(show_frame_lines + 3));
	EXPECT_EQ(frame_lines(&show), show_frame_lines + 3);
	EXPECT_EQ(lines[show_frame_lines], show.hint);
	EXPECT_EQ(lines.back(), "(exit status 0)");

	show.columns = 33; // one column short of the hint and its cursor's margin
	lines = visible_lines(render(controller, show, 0));
	EXPECT_EQ(lines.size(), static_cast<size_t>(show_frame_lines + 2));
	EXPECT_EQ(frame_lines(&show), show_frame_lines + 2);
	EXPECT_EQ(lines[show_frame_lines], "$ glow_ctl");

	// 10 rows leave 3 below the frame, the cursor's line kept free: two
	// footer lines and the hint fit; three footer lines take them all.
	show.columns = 40;
	show.rows = 10;
	EXPECT_EQ(visible_lines(render(controller, show, 0))[show_frame_lines], show.hint);
	snprintf(show.footer, sizeof show.footer, "%s", "1\n2\n3\n");
	lines = visible_lines(render(controller, show, 0));
	EXPECT_EQ(std::vector<std::string>(lines.begin() + show_frame_lines, lines.end()),
		  (std::vector<std::string>{"1", "2", "3"}));
}

TEST(ShowFrame, StaysWithinItsBuffer)
{
	const emu_controller controller = with_led(0, 0xFFFF, 0, 0);
	emu_show show{};
	show.endpoint = "169.254.100.2:9000";
	char frame[64];
	const size_t length = render_frame(&controller, &show, 0, frame, sizeof frame);
	EXPECT_LT(length, sizeof frame);
	EXPECT_EQ(frame[length], '\0');
}

} // namespace
