// SPDX-License-Identifier: MIT
#include "emu_show.h"

#include "clock.h"
#include "emu_protocol.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// Set by SIGWINCH; the next draw reads the new width and redraws.
volatile sig_atomic_t resized = 0;

} // namespace

static void note_resize(int /*signal*/)
{
	resized = 1;
}

// The wall-clock time of day as HH:MM:SS.mmm, local time.
static void format_now(char *text, size_t size)
{
	timespec now{};
	clock_gettime(CLOCK_REALTIME, &now);
	tm local{};
	localtime_r(&now.tv_sec, &local);
	snprintf(text, size, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
		 static_cast<int>(now.tv_nsec / 1000000));
}

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

// The length of an escape sequence (ESC [ ... final byte) at text, or 0.
static size_t escape_length(const char *text)
{
	if (text[0] != '\033' || text[1] != '[')
		return 0;
	size_t length = 2;
	while (text[length] != '\0' && (text[length] < 0x40 || text[length] > 0x7E))
		++length;
	return text[length] == '\0' ? length : length + 1;
}

// How many columns text takes on screen: its characters less its escapes.
static int visible_width(const char *text)
{
	int width = 0;
	for (const char *at = text; *at != '\0';) {
		const size_t escape = escape_length(at);
		at += escape != 0 ? escape : 1;
		width += escape != 0 ? 0 : 1;
	}
	return width;
}

// The widest a line may be: one column short of the terminal's, so that the
// cursor never stands at the margin waiting to wrap.
static int line_width(const emu_show *show)
{
	const int columns = show->columns > 0 ? show->columns : show_default_columns;
	return columns - 1;
}

// Appends one line of the frame: text cut to the line width (its escapes all
// kept, so colours are still reset), the rest of the old line erased, and
// the newline.
static void append_line(char *out, size_t size, size_t *used, const emu_show *show, const char *text)
{
	char line[512];
	size_t length = 0;
	int width = 0;
	const int limit = line_width(show);
	for (const char *at = text; *at != '\0' && length + 1 < sizeof line;) {
		size_t take = escape_length(at);
		if (take == 0) {
			take = 1;
			if (width++ >= limit) {
				++at;
				continue;
			}
		}
		for (; take > 0 && length + 1 < sizeof line; --take)
			line[length++] = *at++;
	}
	line[length] = '\0';
	append(out, size, used, line);
	append(out, size, used, "\033[K\n");
}

static void append_led(char *out, size_t size, size_t *used, const emu_controller *controller,
		       const emu_show *show, int led, long tick)
{
	// A lit block takes the mix's background colour; a dark one stays grey,
	// so that it shows on any terminal background.
	const int colour = led_colour(controller, led, tick);
	char block[16];
	if (colour == 0)
		snprintf(block, sizeof block, "\033[100m");
	else
		snprintf(block, sizeof block, "\033[4%dm", colour);
	const uint16_t red = channel_value(controller, led, 0);
	const uint16_t green = channel_value(controller, led, 1);
	const uint16_t blue = channel_value(controller, led, 2);
	char line[256];
	const int channels =
		snprintf(line, sizeof line,
			 " LED %d %s      \033[0m  red %-6s 0x%04X  green %-6s 0x%04X  blue %-6s 0x%04X", led,
			 block, keyword_name(red), red, keyword_name(green), green, keyword_name(blue), blue);
	// The time of the last write comes last and only where it fits whole.
	if (channels > 0 && static_cast<size_t>(channels) < sizeof line) {
		const char *written = show->last_write[led][0] != '\0' ? show->last_write[led] : "-";
		snprintf(line + channels, sizeof line - static_cast<size_t>(channels), "  last write %s",
			 written);
		if (visible_width(line) > line_width(show))
			line[channels] = '\0';
	}
	append_line(out, size, used, show, line);
}

// How many footer lines fit below the rest of the frame, keeping the
// cursor's line free so the terminal never scrolls.
static int footer_limit(const emu_show *show)
{
	if (show->rows <= 0)
		return show_footer_lines;
	return show->rows - show_frame_lines - 1 > 1 ? show->rows - show_frame_lines - 1 : 1;
}

// The footer's last lines that fit (its text from there on).
static const char *footer_tail(const emu_show *show)
{
	const char *start = show->footer;
	int lines = 0;
	for (const char *at = show->footer; *at != '\0'; ++at)
		if (*at == '\n' && at[1] != '\0')
			++lines;
	for (; lines >= footer_limit(show); --lines)
		start = strchr(start, '\n') + 1;
	return start;
}

// The number of lines in text, a last one without its newline included.
static int count_lines(const char *text)
{
	int lines = 0;
	for (const char *at = text; *at != '\0'; ++at)
		if (*at == '\n' || at[1] == '\0')
			++lines;
	return lines;
}

// Whether the hint shows: all of it on one line, in a row the footer's
// lines leave free. A command cut short, or its first half scrolled away,
// would read as another command, so it shows whole or not at all.
static bool hint_shown(const emu_show *show)
{
	return show->hint != nullptr && show->hint[0] != '\0' && strchr(show->hint, '\n') == nullptr &&
	       visible_width(show->hint) <= line_width(show) &&
	       count_lines(show->footer) < footer_limit(show);
}

int frame_lines(const emu_show *show)
{
	return show_frame_lines + (hint_shown(show) ? 1 : 0) + count_lines(footer_tail(show));
}

// The footer's lines, each cut to the width like any other.
static void append_footer(char *out, size_t size, size_t *used, const emu_show *show)
{
	const char *at = footer_tail(show);
	while (*at != '\0') {
		const char *end = strchr(at, '\n');
		const size_t length = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
		char line[256];
		snprintf(line, sizeof line, "%.*s", static_cast<int>(length), at);
		append_line(out, size, used, show, line);
		at += end != nullptr ? length + 1 : length;
	}
	// A footer that lost lines leaves none of the old ones below it.
	append(out, size, used, "\033[J");
}

size_t render_frame(const emu_controller *controller, const emu_show *show, long tick, char *out, size_t size)
{
	size_t used = 0;
	out[0] = '\0';
	char line[256];
	if (show->clear) {
		append(out, size, &used, "\033[H\033[2J");
	} else if (show->drawn) {
		snprintf(line, sizeof line, "\033[%dF",
			 show->drawn_lines > 0 ? show->drawn_lines : show_frame_lines);
		append(out, size, &used, line);
	}
	snprintf(line, sizeof line, "glow_emu on %s  next sequence 0x%04X", show->endpoint,
		 controller->sequence);
	append_line(out, size, &used, show, line);
	snprintf(line, sizeof line, "last exchange %s",
		 show->last_exchange[0] != '\0' ? show->last_exchange : "-");
	append_line(out, size, &used, show, line);
	for (int led = 0; led < emu_led_count; ++led)
		append_led(out, size, &used, controller, show, led, tick);
	append_line(out, size, &used, show, show->note);
	if (hint_shown(show))
		append_line(out, size, &used, show, show->hint);
	if (show->footer_path != nullptr)
		append_footer(out, size, &used, show);
	return used;
}

// The terminal's width, or the default where it does not tell.
static int terminal_columns()
{
	winsize size{};
	if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
		return show_default_columns;
	return size.ws_col;
}

// The terminal's height, or 0 where it does not tell.
static int terminal_rows()
{
	winsize size{};
	if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
		return 0;
	return size.ws_row;
}

static long current_tick(const emu_show *show)
{
	return static_cast<long>((monotonic_ms() - show->start_ms) / show->tick_ms);
}

// Reads the footer file again; the frame is redrawn when it changed. A file
// that cannot be read (not written yet) shows as empty.
static void read_footer(emu_show *show)
{
	if (show->footer_path == nullptr)
		return;
	char text[sizeof show->footer] = "";
	FILE *file = fopen(show->footer_path, "r");
	if (file != nullptr) {
		// A long file: its end, where the last lines are; a short one whole.
		if (fseek(file, -static_cast<long>(sizeof text - 1), SEEK_END) == 0 ||
		    fseek(file, 0, SEEK_SET) == 0) {
			const size_t length = fread(text, 1, sizeof text - 1, file);
			text[length] = '\0';
		}
		fclose(file);
	}
	if (strcmp(text, show->footer) != 0) {
		snprintf(show->footer, sizeof show->footer, "%s", text);
		show->dirty = true;
	}
}

static void draw_show(emu_show *show, const emu_controller *controller)
{
	if (!show->showing)
		return;
	if (resized != 0) {
		// Lines already on screen may have been rewrapped by the terminal,
		// so the frame starts again on a clean screen.
		resized = 0;
		show->columns = terminal_columns();
		show->rows = terminal_rows();
		show->clear = show->drawn;
		show->dirty = true;
	}
	read_footer(show);
	const long tick = current_tick(show);
	if (show->drawn && tick == show->drawn_tick && !show->dirty)
		return;
	// The frame goes out in one write, so the terminal never shows half of one.
	static char frame[8192];
	const size_t length = render_frame(controller, show, tick, frame, sizeof frame);
	fflush(stdout);
	if (write(STDOUT_FILENO, frame, length) < 0)
		return;
	show->drawn = true;
	show->drawn_lines = frame_lines(show);
	show->clear = false;
	show->drawn_tick = tick;
	show->dirty = false;
}

static bool start_show(emu_show *show, const emu_controller *controller, const char *endpoint, long tick_ms)
{
	const char *no_color = getenv("NO_COLOR");
	const bool colour_allowed = no_color == nullptr || no_color[0] == '\0';
	if (isatty(STDOUT_FILENO) == 0 || !colour_allowed)
		return false;
	struct sigaction action = {};
	action.sa_handler = note_resize;
	sigemptyset(&action.sa_mask);
	sigaction(SIGWINCH, &action, nullptr);

	show->showing = true;
	show->endpoint = endpoint;
	show->tick_ms = tick_ms;
	show->start_ms = monotonic_ms();
	show->columns = terminal_columns();
	show->rows = terminal_rows();
	fputs("\033[?25l", stdout); // hide the cursor while drawing
	draw_show(show, controller);
	return true;
}

void start_output(emu_show *show, const emu_controller *controller, const char *endpoint, bool live,
		  bool quiet, long tick_ms, const char *footer_path, const char *hint)
{
	show->hint = hint;
	show->quiet = quiet;
	show->footer_path = footer_path;
	if (live)
		start_show(show, controller, endpoint, tick_ms);
}

void output_exchange(emu_show *show, const char *kind, const char *peer)
{
	if (!show->showing)
		return;
	char now[32];
	format_now(now, sizeof now);
	snprintf(show->last_exchange, sizeof show->last_exchange, "%s %s from %s", now, kind, peer);
	show->dirty = true;
}

void output_write(emu_show *show, const emu_controller *controller, int led)
{
	if (show->showing) {
		format_now(show->last_write[led], sizeof show->last_write[led]);
		show->dirty = true;
	} else if (!show->quiet) {
		char line[160];
		describe_led(controller, led, line, sizeof line);
		printf("%s\n", line);
	}
}

void output_note(emu_show *show, const char *text)
{
	if (show->showing) {
		snprintf(show->note, sizeof show->note, "%s", text);
		show->dirty = true;
	} else {
		printf("%s\n", text);
	}
}

void refresh_output(emu_show *show, const emu_controller *controller)
{
	draw_show(show, controller);
}

long long next_output_ms(const emu_show *show)
{
	return show->showing ? show->start_ms + (current_tick(show) + 1) * show->tick_ms : -1;
}

void stop_output(emu_show *show, const emu_controller *controller, long received)
{
	if (show->showing) {
		// The last frame stays on screen and says it all; what the hint
		// offered ends with the view.
		show->hint = nullptr;
		show->dirty = true;
		draw_show(show, controller);
		show->showing = false;
		fputs("\033[0m\033[?25h", stdout);
	} else if (!show->quiet) {
		for (int led = 0; led < emu_led_count; ++led) {
			char line[160];
			describe_led(controller, led, line, sizeof line);
			printf("glow_emu: %s\n", line);
		}
		printf("glow_emu: next sequence 0x%04X\n", controller->sequence);
	}
	printf("glow_emu: stopped after %ld datagrams\n", received);
}
