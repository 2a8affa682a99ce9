// SPDX-License-Identifier: MIT
// glow_emu's reply plan: which datagrams answer a sync, from which socket,
// and when they go. Replies wait in a queue until they are due, so that a
// delayed reply never holds up the datagrams that arrive meanwhile.
#pragma once

#include "emu_options.h"
#include "emu_protocol.h"

#include <netinet/in.h>

#include <cstdint>

inline constexpr int emu_max_pending = 64;

// A reply waiting for its time to go.
struct pending_reply {
	long long due_ms; // on the monotonic clock
	int sock;
	sockaddr_in to;
	int length;
	uint8_t bytes[emu_max_reply_size];
};

struct emu_replies {
	pending_reply pending[emu_max_pending]; // oldest first
	int count;
};

// The sockets replies leave from.
struct emu_reply_sockets {
	int reply;   // the normal reply
	int foreign; // a stranger's datagram first (--foreign-from), or -1
};

// Queues what answers a sync datagram for led from from, as the options
// say: nothing when silent; with a foreign address, first a datagram from
// there; then the reply with the controller's sequence and the LED's values,
// cut or padded to the reply size. Both are due after the delay.
void plan_replies(emu_replies *replies, const emu_options *options, const emu_reply_sockets *sockets,
		  const emu_controller *controller, int led, const sockaddr_in *from);

// Sends the replies whose time has come (all of them when flushing), oldest
// first, and keeps the rest in order.
void send_due_replies(emu_replies *replies, bool flush);

// When the next reply is due, or -1 when none waits.
long long next_reply_due(const emu_replies *replies);
