// SPDX-License-Identifier: MIT
// The program's one UDP socket towards the LED controller.
#pragma once

#include <netinet/in.h>

#include <stdint.h>

// Room for any datagram the controller could send on an Ethernet link
// (1500-byte frames less the IP and UDP headers, with margin): a receive
// takes at most length bytes (44) into it and drops the rest, and the
// buffer is never the limit. Replies and fuzz inputs are bounded by it.
inline constexpr int udp_buffer_size = 1400;

struct udp_link {
	int sock;                        // set by open_udp_socket
	sockaddr_in dest;                // the controller, filled by the caller
	uint8_t buffer[udp_buffer_size]; // datagram to send; after a receive, the reply
	int length;                      // bytes a send transmits, and the most a receive takes
};

// Creates the socket, ties it to the link's interface, allows broadcast,
// bounds the wait for a reply and binds the own address and port. Only a
// socket that cannot be created is a failure: it prints "Failed to open
// socket" and returns -1, leaving link alone. A refused bind prints
// "bind error" and the socket stays unbound. Returns 0 with link->sock set.
int open_udp_socket(udp_link *link);

// Sends buffer[0..length-1] to dest; a failure is printed, not returned.
void send_udp_packet(udp_link *link);

// Receives one datagram into buffer, at most length bytes; the rest of a
// longer datagram is lost. A failure (including a wait that ran out) is
// printed, and buffer is left as it was.
void receive_udp_packet(udp_link *link);
