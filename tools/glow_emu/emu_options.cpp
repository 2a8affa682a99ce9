// SPDX-License-Identifier: MIT
#include "emu_options.h"

#include "emu_show.h"
#include "link_config.h"
#include "packet.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace
{

constexpr int default_sequence = 0x0001;
constexpr int default_foreign_sequence = 0x0BAD;
constexpr int option_show = 1000; // long options without a short form
constexpr int option_tick_ms = 1001;
constexpr int option_footer = 1002;
constexpr int option_hint = 1003;

// The three defaults are filled in from the link's build-time constants and
// the largest reply.
const char usage_text[] = "Usage: glow_emu [options]\n"
			  "Emulates the LED controller: answers sync datagrams, applies writes.\n"
			  "  -a, --address ADDR        address to bind (default %s)\n"
			  "  -p, --port PORT           port to bind (default %d)\n"
			  "  -L, --log FILE            log every datagram received as JSON lines\n"
			  "  -q, --quiet               do not print LED changes\n"
			  "  -s, --silent              never reply\n"
			  "  -d, --delay-ms MS         reply MS milliseconds after the sync datagram\n"
			  "  -S, --sequence N          first sequence handed out (default 1)\n"
			  "  -z, --reply-size N        replies have N bytes (0..%d; default 44)\n"
			  "  -f, --foreign-from ADDR   send a datagram from ADDR before each reply\n"
			  "  -F, --foreign-sequence N  the sequence it carries (default 0x0BAD)\n"
			  "  -P, --reply-port PORT     send replies from PORT on the bound address\n"
			  "  -c, --count N             exit after N datagrams (and their replies)\n"
			  "  -t, --time-limit MS       exit after MS milliseconds\n"
			  "      --show                draw the three LEDs live, blinking, when on a\n"
			  "                            terminal (plain lines otherwise, or with NO_COLOR)\n"
			  "      --tick-ms MS          with --show, one pattern bit per MS ms (default %d)\n"
			  "      --footer FILE         with --show, end the frame with FILE's last lines,\n"
			  "                            read again as it grows\n"
			  "      --hint TEXT           with --show, a line above the footer while the view\n"
			  "                            runs: whole or not at all, never in the last frame\n"
			  "  -h, --help                show this text\n";

const char short_options[] = "a:p:L:qsd:S:z:f:F:P:c:t:h";

const option long_options[] = {
	{"address", required_argument, nullptr, 'a'},
	{"port", required_argument, nullptr, 'p'},
	{"log", required_argument, nullptr, 'L'},
	{"quiet", no_argument, nullptr, 'q'},
	{"silent", no_argument, nullptr, 's'},
	{"delay-ms", required_argument, nullptr, 'd'},
	{"sequence", required_argument, nullptr, 'S'},
	{"reply-size", required_argument, nullptr, 'z'},
	{"foreign-from", required_argument, nullptr, 'f'},
	{"foreign-sequence", required_argument, nullptr, 'F'},
	{"reply-port", required_argument, nullptr, 'P'},
	{"count", required_argument, nullptr, 'c'},
	{"time-limit", required_argument, nullptr, 't'},
	{"show", no_argument, nullptr, option_show},
	{"tick-ms", required_argument, nullptr, option_tick_ms},
	{"footer", required_argument, nullptr, option_footer},
	{"hint", required_argument, nullptr, option_hint},
	{"help", no_argument, nullptr, 'h'},
	{nullptr, 0, nullptr, 0},
};

} // namespace

// A whole number in [min, max], in any base strtol knows; false otherwise.
static bool parse_number(const char *text, long min, long max, long *value)
{
	char *end = nullptr;
	errno = 0;
	const long number = strtol(text, &end, 0);
	if (errno != 0 || end == text || *end != '\0' || number < min || number > max) {
		fprintf(stderr, "glow_emu: '%s' is not a number from %ld to %ld\n", text, min, max);
		return false;
	}
	*value = number;
	return true;
}

bool is_dotted_quad(const char *text)
{
	const char *at = text;
	for (int octet = 0; octet < 4; ++octet) {
		if (octet > 0 && *at++ != '.')
			return false;
		int value = 0;
		int digits = 0;
		for (; *at >= '0' && *at <= '9' && digits < 4; ++at, ++digits)
			value = value * 10 + (*at - '0');
		if (digits == 0 || value > 255 || (digits > 1 && at[-digits] == '0'))
			return false;
	}
	return *at == '\0';
}

static bool parse_address(const char *text, const char **address)
{
	if (!is_dotted_quad(text)) {
		fprintf(stderr, "glow_emu: '%s' is not an IPv4 address (four octets 0 to 255)\n", text);
		return false;
	}
	*address = text;
	return true;
}

static bool set_option(emu_options *options, int option, const char *arg)
{
	switch (option) {
	case 'a':
		return parse_address(arg, &options->address);
	case 'p':
		return parse_number(arg, 1, 65535, &options->port);
	case 'L':
		options->log_path = arg;
		return true;
	case 'q':
		options->quiet = true;
		return true;
	case 's':
		options->silent = true;
		return true;
	case 'd':
		return parse_number(arg, 0, 3600000, &options->delay_ms);
	case 'S':
		return parse_number(arg, 0, 0xFFFF, &options->sequence);
	case 'z':
		return parse_number(arg, 0, emu_max_reply_size, &options->reply_size);
	case 'f':
		return parse_address(arg, &options->foreign_address);
	case 'F':
		return parse_number(arg, 0, 0xFFFF, &options->foreign_sequence);
	case 'P':
		return parse_number(arg, 1, 65535, &options->reply_port);
	case 'c':
		return parse_number(arg, 1, 1000000000, &options->count);
	case 't':
		return parse_number(arg, 1, 86400000, &options->time_limit_ms);
	case option_show:
		options->show = true;
		return true;
	case option_tick_ms:
		return parse_number(arg, 1, 60000, &options->tick_ms);
	case option_footer:
		options->footer_path = arg;
		return true;
	case option_hint:
		options->hint = arg;
		return true;
	default:
		return false;
	}
}

int parse_options(int argc, char **argv, emu_options *options)
{
	options->address = link_controller_address;
	options->port = link_port;
	options->reply_size = packet_length;
	options->foreign_sequence = default_foreign_sequence;
	options->sequence = default_sequence;
	options->tick_ms = show_default_tick_ms;

	int option = 0;
	while ((option = getopt_long(argc, argv, short_options, long_options, nullptr)) != -1) {
		if (option == 'h') {
			printf(usage_text, link_controller_address, link_port, emu_max_reply_size,
			       show_default_tick_ms);
			return 0;
		}
		if (!set_option(options, option, optarg)) {
			fprintf(stderr, "glow_emu: try 'glow_emu --help'\n");
			return 2;
		}
	}
	return -1;
}
