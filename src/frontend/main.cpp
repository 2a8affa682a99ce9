// SPDX-License-Identifier: MIT
// glow_ctl: sets the three colour channels of one LED through the LED
// controller, in one exchange: a sync datagram, the controller's reply, and
// a write datagram carrying the sequence found in the reply.
#include "command_line.h"
#include "link_config.h"
#include "packet.h"
#include "udp_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string.h>

// Points the link at the controller's port on the controller's address.
static void aim_at_controller(sockaddr_in *dest)
{
	dest->sin_family = AF_INET;
	dest->sin_port = htons(link_port);
	inet_aton(link_controller_address, &dest->sin_addr);
}

// The exchange. Send and receive failures are printed by the link and the
// sequence goes on: after a failed receive the buffer still holds the sync
// datagram, so the write datagram goes out with sequence 0xFFFF.
static void exchange(udp_link *link, const led_settings *settings)
{
	link->length = fill_packet(link->buffer, sync_sequence, settings->led, 0, 0, 0);
	send_udp_packet(link);
	receive_udp_packet(link);

	// The buffer holds the reply, or whatever of the sync datagram a short
	// or failed receive did not overwrite.
	const int sequence = read_sequence(link->buffer);
	link->length = fill_packet(link->buffer, sequence, settings->led, settings->red, settings->green,
				   settings->blue);
	send_udp_packet(link);
}

int main(int argc, char **argv)
{
	udp_link link;
	memset(&link, 0, sizeof link);
	led_settings settings{};
	aim_at_controller(&link.dest);

	const command_result command = parse_command_line(argc, argv, &settings);
	if (command != command_run) {
		print_usage();
		return command == command_help ? 0 : 1;
	}

	if (open_udp_socket(&link) != 0)
		return -1;
	exchange(&link, &settings);
	close(link.sock);
	return 0;
}
