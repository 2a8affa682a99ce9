// SPDX-License-Identifier: MIT
#include "udp_link.h"

#include "clock.h"
#include "link_config.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/types.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

// Bounds the wait for the controller's reply, so that a controller that is
// down or unplugged cannot hang the run: the receive then fails with EAGAIN.
static void set_reply_timeout(int sock)
{
	timeval limit{};
	limit.tv_sec = link_reply_timeout_ms / 1000;
	limit.tv_usec = static_cast<suseconds_t>(link_reply_timeout_ms % 1000) * 1000;
	setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

// Binds the own end. Overlapping runs all want the own port, and a run holds
// it from here until it closes its socket, so the port is the lock between
// them: while another run has it (EADDRINUSE), wait a little and try again,
// up to link_bind_wait_ms. Without that, the second run would sync from
// another port, get the same sequence as the first, and its write would be
// dropped by the controller as stale. Any other failure is final at once.
static int bind_waiting_for_port(int sock, const sockaddr_in *own)
{
	const sockaddr *address = reinterpret_cast<const sockaddr *>(own);
	if (bind(sock, address, sizeof *own) == 0)
		return 0;
	if (errno != EADDRINUSE || link_bind_wait_ms == 0)
		return -1;

	const long long deadline = monotonic_ms() + link_bind_wait_ms;
	timespec pause{};
	pause.tv_sec = link_bind_retry_ms / 1000;
	pause.tv_nsec = static_cast<long>(link_bind_retry_ms % 1000) * 1000000L;
	do {
		nanosleep(&pause, nullptr);
		if (bind(sock, address, sizeof *own) == 0)
			return 0;
		// Another error comes only when the own address or the link goes
		// away during the wait, which no test can time.
		if (errno != EADDRINUSE) // GCOVR_EXCL_BR_LINE: address or link gone mid-wait
			return -1;       // GCOVR_EXCL_LINE: address or link gone mid-wait
	} while (monotonic_ms() < deadline);
	return -1;
}

static void bind_own_end(int sock)
{
	sockaddr_in own{};
	own.sin_family = AF_INET;
	own.sin_port = htons(link_port);
	inet_aton(link_own_address, &own.sin_addr);
	if (bind_waiting_for_port(sock, &own) != 0)
		fputs("bind error\n", stdout);
}

int open_udp_socket(udp_link *link)
{
	const int sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
	if (sock < 0) {
		fputs("Failed to open socket\n", stdout);
		return -1;
	}

	// Both options are best effort: without the interface, or without the
	// right to tie a socket to it, the socket still works untied.
	setsockopt(sock, SOL_SOCKET, SO_BINDTODEVICE, link_interface, sizeof link_interface);
	const int on = 1;
	setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
	set_reply_timeout(sock);
	bind_own_end(sock);

	link->sock = sock;
	return 0;
}

void send_udp_packet(udp_link *link)
{
	const ssize_t sent = sendto(link->sock, link->buffer, static_cast<size_t>(link->length), 0,
				    reinterpret_cast<const sockaddr *>(&link->dest), sizeof link->dest);
	if (sent < 0) {
		const int error = errno;
		printf("sendto error: %u - %s\n", static_cast<unsigned>(error), strerror(error));
	}
}

void receive_udp_packet(udp_link *link)
{
	// The sender is not examined, but recvfrom wants somewhere to put it.
	sockaddr_storage sender{};
	socklen_t sender_length = sizeof sender;
	const ssize_t received = recvfrom(link->sock, link->buffer, static_cast<size_t>(link->length), 0,
					  reinterpret_cast<sockaddr *>(&sender), &sender_length);
	if (received == -1) {
		const int error = errno;
		printf("recvfrom error: %u - %s\n", static_cast<unsigned>(error), strerror(error));
	}
}
