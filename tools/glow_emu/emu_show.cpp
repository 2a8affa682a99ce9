#include "emu_show.h"

#include <cstdio>

bool pattern_lit(uint16_t pattern, long tick)
{
	const int bit = 15 - static_cast<int>(tick % 16);
	return (pattern >> bit & 1U) != 0;
}

int led_colour(const emu_controller *controller, int led, long tick)
{
	int colour = 0;
	for (int channel = 0; channel < 3; ++channel)
		if (pattern_lit(channel_value(controller, led, channel), tick))
			colour |= 1 << channel;
	return colour;
}

// Appends to out at *used, never past size; snprintf keeps the NUL.
static void append(char *out, size_t size, size_t *used, const char *text)
{
	if (*used >= size)
		return;
	const int added = snprintf(out + *used, size - *used, "%s", text);
	if (added > 0)
		*used += static_cast<size_t>(added) < size - *used ? static_cast<size_t>(added)
								   : size - *used - 1;
}

static void append_led(char *out, size_t size, size_t *used, const emu_controller *controller,
		       const emu_show *show, int led, long tick)
{
	// A lit block takes the mix's background colour; a dark one stays grey,
	// so that it shows on any terminal background.
	const int colour = led_colour(controller, led, tick);
	char line[256];
	char block[16];
	if (colour == 0)
		snprintf(block, sizeof block, "\033[100m");
	else
		snprintf(block, sizeof block, "\033[4%dm", colour);
	const uint16_t red = channel_value(controller, led, 0);
	const uint16_t green = channel_value(controller, led, 1);
	const uint16_t blue = channel_value(controller, led, 2);
	snprintf(line, sizeof line,
		 " LED %d %s      \033[0m  red %-6s 0x%04X  green %-6s 0x%04X  blue %-6s 0x%04X  last write "
		 "%s\033[K\n",
		 led, block, keyword_name(red), red, keyword_name(green), green, keyword_name(blue), blue,
		 show->last_write[led][0] != '\0' ? show->last_write[led] : "-");
	append(out, size, used, line);
}

size_t render_frame(const emu_controller *controller, const emu_show *show, long tick, char *out, size_t size)
{
	size_t used = 0;
	out[0] = '\0';
	char line[256];
	if (show->drawn) {
		snprintf(line, sizeof line, "\033[%dF", show_frame_lines);
		append(out, size, &used, line);
	}
	snprintf(line, sizeof line, "glow_emu on %s  sequence 0x%04X  last exchange %s\033[K\n",
		 show->endpoint, controller->sequence,
		 show->last_exchange[0] != '\0' ? show->last_exchange : "-");
	append(out, size, &used, line);
	for (int led = 0; led < emu_led_count; ++led)
		append_led(out, size, &used, controller, show, led, tick);
	append(out, size, &used, show->note);
	append(out, size, &used, "\033[K\n");
	return used;
}
