// SPDX-License-Identifier: MIT
// glow_emu: a stand-in for the LED controller, for tests and demos.
//
// It answers each sync datagram with the current sequence, applies a write
// datagram that carries that sequence, keeps registers 4..12 as the state of
// the three LEDs and prints every change. Malformed or stale datagrams get
// one line each and are otherwise ignored. Options make it misbehave in the
// ways the tests need: silence, delays, odd reply sizes, foreign senders.
#include "emu_protocol.h"
#include "emu_show.h"
#include "link_config.h"
#include "packet.h"

#include <arpa/inet.h>
#include <getopt.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace
{

constexpr int max_reply_size = 1400;
constexpr int max_pending = 64;
constexpr int default_sequence = 0x0001;
constexpr int default_foreign_sequence = 0x0BAD;
constexpr uint8_t reply_padding = 0xEE; // fills a reply beyond its 44 bytes
constexpr int option_show = 1000;       // long options without a short form
constexpr int option_tick_ms = 1001;

struct emu_options {
	const char *address;         // controller address to bind
	long port;                   // controller port
	const char *log_path;        // JSON lines of every datagram received, or null
	bool silent;                 // never reply
	bool quiet;                  // no change lines
	long delay_ms;               // wait before replying
	long reply_size;             // bytes in each reply; 44 is a normal one
	const char *foreign_address; // send a datagram from here before each reply
	long foreign_sequence;       // the sequence that datagram carries
	long reply_port;             // reply from this port instead of the bound one, or 0
	long count;                  // exit after this many datagrams, or 0
	long time_limit_ms;          // exit after this long, or 0
	long sequence;               // first sequence handed out
	bool show;                   // draw the LEDs live when on a terminal
	long tick_ms;                // one pattern bit per tick
};

// A reply waiting for its time to go.
struct pending_reply {
	long long due_ms;
	int sock;
	sockaddr_in to;
	int length;
	uint8_t bytes[max_reply_size];
};

struct emu_run {
	emu_options options;
	emu_controller controller;
	int sock;         // bound to the controller's address and port
	int reply_sock;   // where replies leave from
	int foreign_sock; // bound to the foreign address, or -1
	FILE *log;
	long received;
	pending_reply pending[max_pending];
	int pending_count;
	emu_show show; // the live view, with --show on a terminal
};

volatile sig_atomic_t stop_requested = 0;

} // namespace

static void request_stop(int /*signal*/)
{
	stop_requested = 1;
}

// The two defaults are filled in from the link's build-time constants.
static const char usage_text[] =
	"Usage: glow_emu [options]\n"
	"Emulates the LED controller: answers sync datagrams, applies writes.\n"
	"  -a, --address ADDR        address to bind (default %s)\n"
	"  -p, --port PORT           port to bind (default %d)\n"
	"  -L, --log FILE            log every datagram received as JSON lines\n"
	"  -q, --quiet               do not print LED changes\n"
	"  -s, --silent              never reply\n"
	"  -d, --delay-ms MS         reply MS milliseconds after the sync datagram\n"
	"  -S, --sequence N          first sequence handed out (default 1)\n"
	"  -z, --reply-size N        replies have N bytes (0..1400; default 44)\n"
	"  -f, --foreign-from ADDR   send a datagram from ADDR before each reply\n"
	"  -F, --foreign-sequence N  the sequence it carries (default 0x0BAD)\n"
	"  -P, --reply-port PORT     send replies from PORT on the bound address\n"
	"  -c, --count N             exit after N datagrams (and their replies)\n"
	"  -t, --time-limit MS       exit after MS milliseconds\n"
	"      --show                draw the three LEDs live, blinking, when on a\n"
	"                            terminal (plain lines otherwise, or with NO_COLOR)\n"
	"      --tick-ms MS          with --show, one pattern bit per MS ms (default %d)\n"
	"  -h, --help                show this text\n";

static const option long_options[] = {
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
	{"help", no_argument, nullptr, 'h'},
	{nullptr, 0, nullptr, 0},
};

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

static bool set_option(emu_options *options, int option, const char *arg)
{
	switch (option) {
	case 'a':
		options->address = arg;
		return true;
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
		return parse_number(arg, 0, max_reply_size, &options->reply_size);
	case 'f':
		options->foreign_address = arg;
		return true;
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
	default:
		return false;
	}
}

// Fills options from the command line. Returns -1 to go on, or the exit
// status when the run ends here (help, or a bad option).
static int parse_options(int argc, char **argv, emu_options *options)
{
	options->address = link_controller_address;
	options->port = link_port;
	options->reply_size = packet_length;
	options->foreign_sequence = default_foreign_sequence;
	options->sequence = default_sequence;
	options->tick_ms = show_default_tick_ms;

	int option = 0;
	while ((option = getopt_long(argc, argv, "a:p:L:qsd:S:z:f:F:P:c:t:h", long_options, nullptr)) != -1) {
		if (option == 'h') {
			printf(usage_text, link_controller_address, link_port, show_default_tick_ms);
			return 0;
		}
		if (!set_option(options, option, optarg)) {
			fprintf(stderr, "glow_emu: try 'glow_emu --help'\n");
			return 2;
		}
	}
	return -1;
}

static bool fill_address(sockaddr_in *address, const char *text, long port)
{
	memset(address, 0, sizeof *address);
	address->sin_family = AF_INET;
	address->sin_port = htons(static_cast<uint16_t>(port));
	if (inet_aton(text, &address->sin_addr) == 0) {
		fprintf(stderr, "glow_emu: '%s' is not an IPv4 address\n", text);
		return false;
	}
	return true;
}

static int open_bound_socket(const char *text, long port)
{
	sockaddr_in address{};
	if (!fill_address(&address, text, port))
		return -1;
	const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
	if (sock < 0) {
		fprintf(stderr, "glow_emu: socket: %s\n", strerror(errno));
		return -1;
	}
	if (bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0) {
		fprintf(stderr, "glow_emu: cannot bind %s:%ld: %s\n", text, port, strerror(errno));
		close(sock);
		return -1;
	}
	return sock;
}

static void format_peer(const sockaddr_in *peer, char *text, size_t size)
{
	char address[INET_ADDRSTRLEN] = "?";
	inet_ntop(AF_INET, &peer->sin_addr, address, sizeof address);
	snprintf(text, size, "%s:%u", address, ntohs(peer->sin_port));
}

// One JSON object per line: the datagram's index, when it came, from where,
// and every byte in hex.
static void log_datagram(const emu_run *run, const uint8_t *bytes, size_t length, const sockaddr_in *from)
{
	if (run->log == nullptr)
		return;
	char address[INET_ADDRSTRLEN] = "?";
	inet_ntop(AF_INET, &from->sin_addr, address, sizeof address);
	timespec now{};
	clock_gettime(CLOCK_REALTIME, &now);
	fprintf(run->log,
		"{\"index\": %ld, \"time\": %lld.%06ld, \"from\": \"%s\", \"port\": %u, "
		"\"length\": %zu, \"hex\": \"",
		run->received, static_cast<long long>(now.tv_sec), now.tv_nsec / 1000, address,
		ntohs(from->sin_port), length);
	for (size_t i = 0; i < length; ++i)
		fprintf(run->log, "%02x", bytes[i]);
	fputs("\"}\n", run->log);
	fflush(run->log);
}

static void queue_reply(emu_run *run, int sock, const sockaddr_in *to, const uint8_t *bytes, int length)
{
	if (run->pending_count == max_pending) {
		fprintf(stderr, "glow_emu: too many replies waiting; one dropped\n");
		return;
	}
	pending_reply *reply = &run->pending[run->pending_count++];
	reply->due_ms = now_ms() + run->options.delay_ms;
	reply->sock = sock;
	reply->to = *to;
	reply->length = length;
	memcpy(reply->bytes, bytes, static_cast<size_t>(length));
}

// Sends the replies whose time has come (all of them when flushing), oldest
// first, and keeps the rest in order.
static void send_due_replies(emu_run *run, bool flush)
{
	const long long now = now_ms();
	int kept = 0;
	for (int i = 0; i < run->pending_count; ++i) {
		pending_reply *reply = &run->pending[i];
		if (!flush && reply->due_ms > now) {
			if (kept != i)
				run->pending[kept] = *reply;
			++kept;
			continue;
		}
		if (sendto(reply->sock, reply->bytes, static_cast<size_t>(reply->length), 0,
			   reinterpret_cast<const sockaddr *>(&reply->to), sizeof reply->to) < 0)
			fprintf(stderr, "glow_emu: sendto: %s\n", strerror(errno));
	}
	run->pending_count = kept;
}

static void answer_sync(emu_run *run, const emu_datagram *datagram, const sockaddr_in *from)
{
	if (run->options.silent)
		return;
	uint8_t reply[max_reply_size];
	if (run->foreign_sock >= 0) {
		fill_packet(reply, static_cast<int>(run->options.foreign_sequence), datagram->led, 0, 0, 0);
		queue_reply(run, run->foreign_sock, from, reply, packet_length);
	}
	memset(reply, reply_padding, sizeof reply);
	build_reply(&run->controller, datagram->led, reply);
	queue_reply(run, run->reply_sock, from, reply, static_cast<int>(run->options.reply_size));
}

// Says something about a datagram: a line of its own, or with --show the
// frame's note line, so that it does not scroll the drawing away.
static void note(emu_run *run, const char *text)
{
	if (run->show.showing)
		show_note(&run->show, text);
	else
		printf("%s\n", text);
}

static void report_change(emu_run *run, int led)
{
	if (run->show.showing) {
		show_write(&run->show, led);
	} else if (!run->options.quiet) {
		char line[160];
		describe_led(&run->controller, led, line, sizeof line);
		printf("%s\n", line);
	}
}

static void handle_datagram(emu_run *run, const uint8_t *bytes, size_t length, const sockaddr_in *from)
{
	char peer[64];
	format_peer(from, peer, sizeof peer);
	log_datagram(run, bytes, length, from);

	emu_datagram datagram{};
	char why[96];
	char text[sizeof run->show.note];
	if (!decode_datagram(bytes, length, &datagram, why, sizeof why)) {
		snprintf(text, sizeof text, "glow_emu: ignored datagram from %s: %s", peer, why);
		note(run, text);
		return;
	}
	if (datagram.is_sync) {
		show_exchange(&run->show, "sync", peer);
		answer_sync(run, &datagram, from);
		return;
	}
	show_exchange(&run->show, "write", peer);
	const uint16_t expected = run->controller.sequence;
	if (!apply_write(&run->controller, &datagram)) {
		snprintf(text, sizeof text,
			 "glow_emu: stale write from %s: sequence 0x%04X, expected 0x%04X; ignored", peer,
			 datagram.sequence, expected);
		note(run, text);
		return;
	}
	report_change(run, datagram.led);
}

// Reads one datagram if there is one; false when none was waiting.
static bool receive_one(emu_run *run)
{
	static uint8_t bytes[65536];
	sockaddr_in from{};
	socklen_t from_length = sizeof from;
	const ssize_t length = recvfrom(run->sock, bytes, sizeof bytes, MSG_DONTWAIT,
					reinterpret_cast<sockaddr *>(&from), &from_length);
	if (length < 0)
		return false;
	handle_datagram(run, bytes, static_cast<size_t>(length), &from);
	++run->received;
	return true;
}

// How long poll may sleep: until the next reply is due, the next tick of the
// live view, or the time limit.
static int poll_timeout(const emu_run *run, long long deadline)
{
	long long wake = deadline;
	for (int i = 0; i < run->pending_count; ++i)
		if (wake < 0 || run->pending[i].due_ms < wake)
			wake = run->pending[i].due_ms;
	if (run->show.showing) {
		const long long next_tick = next_show_tick_ms(&run->show);
		if (wake < 0 || next_tick < wake)
			wake = next_tick;
	}
	if (wake < 0)
		return -1;
	const long long wait = wake - now_ms();
	return wait < 0 ? 0 : static_cast<int>(wait);
}

// Whether the datagram count (if any) leaves room for another datagram.
static bool wants_more(const emu_run *run)
{
	return run->options.count == 0 || run->received < run->options.count;
}

static bool finished(const emu_run *run, long long deadline)
{
	if (deadline >= 0 && now_ms() >= deadline)
		return true;
	return !wants_more(run) && run->pending_count == 0;
}

static void serve(emu_run *run)
{
	const long long deadline =
		run->options.time_limit_ms > 0 ? now_ms() + run->options.time_limit_ms : -1;
	pollfd waiting{run->sock, POLLIN, 0};
	while (stop_requested == 0 && !finished(run, deadline)) {
		// Past its count it only sends what is still due, reading nothing more.
		waiting.events = wants_more(run) ? POLLIN : 0;
		const int ready = poll(&waiting, 1, poll_timeout(run, deadline));
		if (ready < 0 && errno != EINTR) {
			fprintf(stderr, "glow_emu: poll: %s\n", strerror(errno));
			return;
		}
		if (ready > 0)
			receive_one(run);
		send_due_replies(run, false);
		draw_show(&run->show, &run->controller);
	}
	// Whatever already arrived is still handled, so that a test which stops
	// the emulator right after its client exits sees every datagram.
	while ((run->options.count == 0 || run->received < run->options.count) && receive_one(run)) {}
	send_due_replies(run, true);
}

// What the three LEDs show now, one line each.
static void print_state(const emu_controller *controller)
{
	for (int led = 0; led < emu_led_count; ++led) {
		char line[160];
		describe_led(controller, led, line, sizeof line);
		printf("glow_emu: %s\n", line);
	}
}

static bool open_sockets(emu_run *run)
{
	const emu_options *options = &run->options;
	run->sock = open_bound_socket(options->address, options->port);
	run->reply_sock = run->sock;
	run->foreign_sock = -1;
	if (run->sock < 0)
		return false;
	if (options->reply_port != 0) {
		run->reply_sock = open_bound_socket(options->address, options->reply_port);
		if (run->reply_sock < 0)
			return false;
	}
	if (options->foreign_address != nullptr) {
		run->foreign_sock = open_bound_socket(options->foreign_address, options->port);
		if (run->foreign_sock < 0)
			return false;
	}
	return true;
}

static void catch_stop_signals()
{
	struct sigaction action {
	};
	action.sa_handler = request_stop;
	sigemptyset(&action.sa_mask);
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGTERM, &action, nullptr);
}

int main(int argc, char **argv)
{
	static emu_run run;
	const int status = parse_options(argc, argv, &run.options);
	if (status >= 0)
		return status;
	run.controller.sequence = static_cast<uint16_t>(run.options.sequence);

	// Line by line, so that whoever reads the output sees each change at once.
	setvbuf(stdout, nullptr, _IOLBF, 0);
	if (run.options.log_path != nullptr) {
		run.log = fopen(run.options.log_path, "we");
		if (run.log == nullptr) {
			fprintf(stderr, "glow_emu: %s: %s\n", run.options.log_path, strerror(errno));
			return 1;
		}
	}
	if (!open_sockets(&run))
		return 1;
	catch_stop_signals();

	printf("glow_emu: listening on %s:%ld\n", run.options.address, run.options.port);
	static char endpoint[64];
	snprintf(endpoint, sizeof endpoint, "%s:%ld", run.options.address, run.options.port);
	if (run.options.show)
		start_show(&run.show, &run.controller, endpoint, run.options.tick_ms);
	serve(&run);
	stop_show(&run.show, &run.controller);
	if (!run.options.quiet)
		print_state(&run.controller);
	printf("glow_emu: stopped after %ld datagrams\n", run.received);
	if (run.log != nullptr)
		fclose(run.log);
	return 0;
}
