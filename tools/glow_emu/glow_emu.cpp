// SPDX-License-Identifier: MIT
// glow_emu: a stand-in for the LED controller, for tests and demos.
//
// It answers each sync datagram with the current sequence, applies a write
// datagram that carries that sequence, keeps registers 4..12 as the state of
// the three LEDs and prints every change. Malformed or stale datagrams get
// one line each and are otherwise ignored. Options make it misbehave in the
// ways the tests need: silence, delays, odd reply sizes, foreign senders.
//
// This file is the serving loop: sockets, the JSON log, dispatch and
// signals. The options (emu_options), the replies (emu_replies), what it
// says, plain lines or the live view (emu_show), and the protocol
// (emu_protocol) each have a file of their own.
#include "clock.h"
#include "emu_options.h"
#include "emu_protocol.h"
#include "emu_replies.h"
#include "emu_show.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace
{

// Room for one line about a datagram.
constexpr size_t note_size = 256;

// Everything one glow_emu process serves with, from start to stop.
struct emu_server {
	emu_options options;
	emu_controller controller;
	int sock;                  // bound to the controller's address and port
	emu_reply_sockets sockets; // where replies leave from
	FILE *log;                 // the JSON lines, or null
	long received;             // datagrams handled so far
	emu_replies replies;
	emu_show output;
};

volatile sig_atomic_t stop_requested = 0;

} // namespace

static void request_stop(int /*signal*/)
{
	stop_requested = 1;
}

static int open_bound_socket(const char *text, long port)
{
	sockaddr_in address{};
	address.sin_family = AF_INET;
	address.sin_port = htons(static_cast<uint16_t>(port));
	inet_aton(text, &address.sin_addr); // checked by the option parser
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

static bool open_sockets(emu_server *server)
{
	const emu_options *options = &server->options;
	server->sock = open_bound_socket(options->address, options->port);
	server->sockets.reply = server->sock;
	server->sockets.foreign = -1;
	if (server->sock < 0)
		return false;
	if (options->reply_port != 0) {
		server->sockets.reply = open_bound_socket(options->address, options->reply_port);
		if (server->sockets.reply < 0)
			return false;
	}
	if (options->foreign_address != nullptr) {
		server->sockets.foreign = open_bound_socket(options->foreign_address, options->port);
		if (server->sockets.foreign < 0)
			return false;
	}
	return true;
}

static void format_peer(const sockaddr_in *peer, char *text, size_t size)
{
	char address[INET_ADDRSTRLEN] = "?";
	inet_ntop(AF_INET, &peer->sin_addr, address, sizeof address);
	snprintf(text, size, "%s:%u", address, ntohs(peer->sin_port));
}

// The wall-clock time as seconds and microseconds since the epoch.
static void wall_time(long long *seconds, long *microseconds)
{
	timespec now{};
	clock_gettime(CLOCK_REALTIME, &now);
	*seconds = static_cast<long long>(now.tv_sec);
	*microseconds = now.tv_nsec / 1000;
}

// One JSON object per line: the datagram's index, when it came, from where,
// and every byte in hex.
static void log_datagram(const emu_server *server, const uint8_t *bytes, size_t length,
			 const sockaddr_in *from)
{
	if (server->log == nullptr)
		return;
	char address[INET_ADDRSTRLEN] = "?";
	inet_ntop(AF_INET, &from->sin_addr, address, sizeof address);
	long long seconds = 0;
	long microseconds = 0;
	wall_time(&seconds, &microseconds);
	fprintf(server->log,
		"{\"index\": %ld, \"time\": %lld.%06ld, \"from\": \"%s\", \"port\": %u, "
		"\"length\": %zu, \"hex\": \"",
		server->received, seconds, microseconds, address, ntohs(from->sin_port), length);
	for (size_t i = 0; i < length; ++i)
		fprintf(server->log, "%02x", bytes[i]);
	fputs("\"}\n", server->log);
	fflush(server->log);
}

static void handle_datagram(emu_server *server, const uint8_t *bytes, size_t length, const sockaddr_in *from)
{
	char peer[64];
	format_peer(from, peer, sizeof peer);
	log_datagram(server, bytes, length, from);

	emu_datagram datagram{};
	char why[96];
	char note[note_size];
	if (!decode_datagram(bytes, length, &datagram, why, sizeof why)) {
		snprintf(note, sizeof note, "glow_emu: ignored datagram from %s: %s", peer, why);
		output_note(&server->output, note);
		return;
	}
	if (datagram.is_sync) {
		output_exchange(&server->output, "sync", peer);
		plan_replies(&server->replies, &server->options, &server->sockets, &server->controller,
			     datagram.led, from);
		return;
	}
	output_exchange(&server->output, "write", peer);
	const uint16_t expected = server->controller.sequence;
	if (!apply_write(&server->controller, &datagram)) {
		snprintf(note, sizeof note,
			 "glow_emu: stale write from %s: sequence 0x%04X, expected 0x%04X; ignored", peer,
			 datagram.sequence, expected);
		output_note(&server->output, note);
		return;
	}
	output_write(&server->output, &server->controller, datagram.led);
}

// Reads one datagram if there is one; false when none was waiting.
static bool receive_one(emu_server *server)
{
	static uint8_t bytes[65536];
	sockaddr_in from{};
	socklen_t from_length = sizeof from;
	const ssize_t length = recvfrom(server->sock, bytes, sizeof bytes, MSG_DONTWAIT,
					reinterpret_cast<sockaddr *>(&from), &from_length);
	if (length < 0)
		return false;
	handle_datagram(server, bytes, static_cast<size_t>(length), &from);
	++server->received;
	return true;
}

// The earlier of two times on the monotonic clock, -1 meaning never.
static long long earlier(long long a, long long b)
{
	return a < 0 || (b >= 0 && b < a) ? b : a;
}

// How long poll may sleep: until the next reply is due, the next redraw of
// the live view, or the time limit.
static int poll_timeout(const emu_server *server, long long deadline)
{
	const long long wake =
		earlier(earlier(deadline, next_reply_due(&server->replies)), next_output_ms(&server->output));
	if (wake < 0)
		return -1;
	const long long wait = wake - monotonic_ms();
	return wait < 0 ? 0 : static_cast<int>(wait);
}

// Whether the datagram count (if any) leaves room for another datagram.
static bool wants_more(const emu_server *server)
{
	return server->options.count == 0 || server->received < server->options.count;
}

static bool finished(const emu_server *server, long long deadline)
{
	if (deadline >= 0 && monotonic_ms() >= deadline)
		return true;
	return !wants_more(server) && server->replies.count == 0;
}

static void serve(emu_server *server)
{
	const long long deadline =
		server->options.time_limit_ms > 0 ? monotonic_ms() + server->options.time_limit_ms : -1;
	pollfd waiting{server->sock, POLLIN, 0};
	while (stop_requested == 0 && !finished(server, deadline)) {
		// Past its count it only sends what is still due, reading nothing more.
		waiting.events = wants_more(server) ? POLLIN : 0;
		const int ready = poll(&waiting, 1, poll_timeout(server, deadline));
		if (ready < 0 && errno != EINTR) {
			fprintf(stderr, "glow_emu: poll: %s\n", strerror(errno));
			return;
		}
		if (ready > 0)
			receive_one(server);
		send_due_replies(&server->replies, false);
		refresh_output(&server->output, &server->controller);
	}
	// Whatever already arrived is still handled, so that a test which stops
	// the emulator right after its client exits sees every datagram.
	while (wants_more(server) && receive_one(server)) {}
	send_due_replies(&server->replies, true);
}

static void catch_stop_signals()
{
	struct sigaction action = {};
	action.sa_handler = request_stop;
	sigemptyset(&action.sa_mask);
	sigaction(SIGINT, &action, nullptr);
	sigaction(SIGTERM, &action, nullptr);
}

int main(int argc, char **argv)
{
	static emu_server server;
	const int status = parse_options(argc, argv, &server.options);
	if (status >= 0)
		return status;
	const emu_options *options = &server.options;
	server.controller.sequence = static_cast<uint16_t>(options->sequence);

	// Line by line, so that whoever reads the output sees each change at once.
	setvbuf(stdout, nullptr, _IOLBF, 0);
	if (options->log_path != nullptr) {
		server.log = fopen(options->log_path, "we");
		if (server.log == nullptr) {
			fprintf(stderr, "glow_emu: %s: %s\n", options->log_path, strerror(errno));
			return 1;
		}
	}
	if (!open_sockets(&server))
		return 1;
	catch_stop_signals();

	static char endpoint[64];
	snprintf(endpoint, sizeof endpoint, "%s:%ld", options->address, options->port);
	printf("glow_emu: listening on %s\n", endpoint);
	start_output(&server.output, &server.controller, endpoint, options->show, options->quiet,
		     options->tick_ms, options->footer_path, options->hint);
	serve(&server);
	stop_output(&server.output, &server.controller, server.received);
	if (server.log != nullptr)
		fclose(server.log);
	return 0;
}
