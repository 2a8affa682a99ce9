// SPDX-License-Identifier: MIT
// glow_emu's command line: what the emulator is told to do, filled by
// parse_options before anything else happens.
#pragma once

#include "udp_link.h"

// The largest reply --reply-size makes: what glow_ctl's buffer holds.
inline constexpr int emu_max_reply_size = udp_buffer_size;

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
	const char *footer_path;     // with show: the frame ends with this file's last lines
	const char *hint;            // with show: a line above the footer while the view runs
};

// Fills options from the command line, the defaults first. Returns -1 to
// go on, or the exit status when the run ends here: 0 after --help, 2
// after a bad option or value (each said on standard error).
int parse_options(int argc, char **argv, emu_options *options);

// Whether text is an IPv4 address as the build takes one: four decimal
// octets 0 to 255, no leading zeros. inet_aton would also take "10.0.0"
// or "010.1.1.1" (octal), which bind then refuses or reads otherwise.
bool is_dotted_quad(const char *text);
