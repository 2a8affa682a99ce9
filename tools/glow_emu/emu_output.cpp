// SPDX-License-Identifier: MIT
#include "emu_output.h"

#include <cstdio>

void start_output(emu_output *output, const emu_controller *controller, const char *endpoint, bool show,
		  bool quiet, long tick_ms)
{
	output->quiet = quiet;
	output->live = show && start_show(&output->show, controller, endpoint, tick_ms);
}

void output_exchange(emu_output *output, const char *kind, const char *peer)
{
	if (output->live)
		show_exchange(&output->show, kind, peer);
}

void output_write(emu_output *output, const emu_controller *controller, int led)
{
	if (output->live) {
		show_write(&output->show, led);
	} else if (!output->quiet) {
		char line[160];
		describe_led(controller, led, line, sizeof line);
		printf("%s\n", line);
	}
}

void output_note(emu_output *output, const char *text)
{
	if (output->live)
		show_note(&output->show, text);
	else
		printf("%s\n", text);
}

void refresh_output(emu_output *output, const emu_controller *controller)
{
	draw_show(&output->show, controller);
}

long long next_output_ms(const emu_output *output)
{
	return output->live ? next_show_tick_ms(&output->show) : -1;
}

void stop_output(emu_output *output, const emu_controller *controller, long received)
{
	stop_show(&output->show, controller);
	// After the live view its last frame stays on screen and says it all.
	if (!output->quiet && !output->live) {
		for (int led = 0; led < emu_led_count; ++led) {
			char line[160];
			describe_led(controller, led, line, sizeof line);
			printf("glow_emu: %s\n", line);
		}
		printf("glow_emu: next sequence 0x%04X\n", controller->sequence);
	}
	printf("glow_emu: stopped after %ld datagrams\n", received);
}
