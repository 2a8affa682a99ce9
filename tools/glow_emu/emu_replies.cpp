// SPDX-License-Identifier: MIT
#include "emu_replies.h"

#include "clock.h"
#include "emu_options.h"
#include "emu_protocol.h"
#include "packet.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Fills a reply beyond its 44 bytes, so that a test sees what a long reply
// carried.
static constexpr uint8_t reply_padding = 0xEE;

static void queue_reply(emu_replies *replies, long long due_ms, int sock, const sockaddr_in *to,
			const uint8_t *bytes, int length)
{
	if (replies->count == emu_max_pending) {
		fprintf(stderr, "glow_emu: too many replies waiting; one dropped\n");
		return;
	}
	pending_reply *reply = &replies->pending[replies->count++];
	reply->due_ms = due_ms;
	reply->sock = sock;
	reply->to = *to;
	reply->length = length;
	memcpy(reply->bytes, bytes, static_cast<size_t>(length));
}

void plan_replies(emu_replies *replies, const emu_options *options, const emu_reply_sockets *sockets,
		  const emu_controller *controller, int led, const sockaddr_in *from)
{
	if (options->silent)
		return;
	const long long due = monotonic_ms() + options->delay_ms;
	uint8_t reply[emu_max_reply_size];
	if (sockets->foreign >= 0) {
		fill_packet(reply, static_cast<int>(options->foreign_sequence), led, 0, 0, 0);
		queue_reply(replies, due, sockets->foreign, from, reply, packet_length);
	}
	memset(reply, reply_padding, sizeof reply);
	build_reply(controller, led, reply);
	queue_reply(replies, due, sockets->reply, from, reply, static_cast<int>(options->reply_size));
}

void send_due_replies(emu_replies *replies, bool flush)
{
	const long long now = monotonic_ms();
	int kept = 0;
	for (int i = 0; i < replies->count; ++i) {
		pending_reply *reply = &replies->pending[i];
		if (!flush && reply->due_ms > now) {
			if (kept != i)
				replies->pending[kept] = *reply;
			++kept;
			continue;
		}
		if (sendto(reply->sock, reply->bytes, static_cast<size_t>(reply->length), 0,
			   reinterpret_cast<const sockaddr *>(&reply->to), sizeof reply->to) < 0)
			fprintf(stderr, "glow_emu: sendto: %s\n", strerror(errno));
	}
	replies->count = kept;
}

long long next_reply_due(const emu_replies *replies)
{
	long long due = -1;
	for (int i = 0; i < replies->count; ++i)
		if (due < 0 || replies->pending[i].due_ms < due)
			due = replies->pending[i].due_ms;
	return due;
}
