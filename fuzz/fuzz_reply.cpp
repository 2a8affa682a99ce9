// SPDX-License-Identifier: MIT
// Fuzzes the handling of the controller's reply: the input is the datagram
// that arrives after the sync datagram. It goes through the real receive
// (over a local datagram socket pair) into the buffer that holds the sync
// datagram, the sequence is read, and the write datagram is built in the
// same buffer, as glow_ctl does.
#include "packet.h"
#include "udp_link.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

constexpr uint8_t untouched = 0xA5; // must survive beyond the 44 bytes

int sockets[2] = {-1, -1};

int expected_sequence(const uint8_t *data, size_t size)
{
	const int high = size > 6 ? data[6] : 0xFF;
	const int low = size > 7 ? data[7] : 0xFF;
	return high << 8 | low;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
	if (socketpair(AF_UNIX, SOCK_DGRAM, 0, sockets) != 0)
		abort();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size > udp_buffer_size)
		return 0;
	static udp_link link;
	memset(&link, untouched, sizeof link);
	link.sock = sockets[0];
	link.length = fill_packet(link.buffer, sync_sequence, 1, 0, 0, 0);
	if (send(sockets[1], data, size, 0) != static_cast<ssize_t>(size))
		abort();
	receive_udp_packet(&link);
	// The receive writes what arrived, at most the link's 44 bytes, over the
	// sync datagram; what the reply did not reach keeps the sync's bytes.
	uint8_t received[packet_length];
	fill_packet(received, sync_sequence, 1, 0, 0, 0);
	const size_t arrived = size < sizeof received ? size : sizeof received;
	if (arrived > 0)
		memcpy(received, data, arrived);
	if (memcmp(link.buffer, received, packet_length) != 0)
		abort();
	const int sequence = read_sequence(link.buffer);
	if (sequence != expected_sequence(data, size))
		abort();

	link.length = fill_packet(link.buffer, sequence, 1, 0x3333, 0, 0xFFFF);
	uint8_t expected[packet_length];
	fill_packet(expected, expected_sequence(data, size), 1, 0x3333, 0, 0xFFFF);
	if (memcmp(link.buffer, expected, packet_length) != 0)
		abort();
	for (int i = packet_length; i < udp_buffer_size; ++i)
		if (link.buffer[i] != untouched)
			abort();
	return 0;
}
