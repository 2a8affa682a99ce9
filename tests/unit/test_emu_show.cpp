// glow_emu --show: which bit is lit at which tick, the colour mix, and the
// frame that is drawn.
#include "emu_show.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

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
	controller.registers[emu_first_register + 3 * led] = red;
	controller.registers[emu_first_register + 3 * led + 1] = green;
	controller.registers[emu_first_register + 3 * led + 2] = blue;
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

TEST(ShowFrame, DrawsEveryLedAndOverwritesInPlace)
{
	const emu_controller controller = with_led(1, 0xFFFF, 0xFFFF, 0x3333);
	emu_show show{};
	show.endpoint = "169.254.100.2:9000";
	snprintf(show.last_write[1], sizeof show.last_write[1], "12:00:00.000");
	char frame[4096];
	const size_t length = render_frame(&controller, &show, 2, frame, sizeof frame);
	const std::string first(frame, length);
	EXPECT_EQ(first.rfind("glow_emu on 169.254.100.2:9000  sequence 0x0042  last exchange -", 0), 0U)
		<< first;
	EXPECT_NE(first.find(
			  " LED 1 \033[47m      \033[0m  red on     0xFFFF  green on     0xFFFF  blue fast   "
			  "0x3333  last write 12:00:00.000"),
		  std::string::npos)
		<< first;
	EXPECT_NE(first.find(" LED 0 \033[100m      \033[0m"), std::string::npos);
	EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), show_frame_lines);
	EXPECT_EQ(first.find("\033[5F"), std::string::npos); // nothing to go back over yet

	// The next frame moves back over the first. Blue plays fast, 0011 0011:
	// lit at tick 2 above (white with red and green), dark at tick 4 (yellow).
	show.drawn = true;
	const std::string next(frame, render_frame(&controller, &show, 4, frame, sizeof frame));
	EXPECT_EQ(next.rfind("\033[5F", 0), 0U);
	EXPECT_NE(next.find(" LED 1 \033[43m      "), std::string::npos) << next;
	EXPECT_EQ(next.find("\033[2J"), std::string::npos); // never clears the screen
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
