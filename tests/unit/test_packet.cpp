// SPDX-License-Identifier: MIT
// fill_packet: the exact bytes of the register-write datagram.
#include "packet.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace
{

using bytes = std::vector<uint8_t>;

// The 44 bytes that fill_packet writes, as a vector for readable failures.
bytes filled(int sequence, int led, int red, int green, int blue)
{
	std::array<uint8_t, 64> buffer{};
	buffer.fill(0xAA); // garbage that must not survive
	EXPECT_EQ(fill_packet(buffer.data(), sequence, led, red, green, blue), 44);
	return bytes(buffer.begin(), buffer.begin() + 44);
}

bytes header(uint8_t sequence_high, uint8_t sequence_low)
{
	bytes head = {0x00, 0x2C, 0x40, 0x20, 0x00, 0x00, sequence_high, sequence_low};
	head.insert(head.end(), 20, 0x00);
	head.insert(head.end(), {0x02, 0x00, 0x00, 0x00});
	return head;
}

bytes concat(bytes first, const bytes &second)
{
	first.insert(first.end(), second.begin(), second.end());
	return first;
}

struct packet_case {
	const char *name;
	int sequence, led, red, green, blue;
	bytes expected;
};

TEST(FillPacket, WritesExactBytes)
{
	const packet_case cases[] = {
		{"sync for LED 0", 0xFFFF, 0, 0, 0, 0,
		 concat(header(0xFF, 0xFF),
			{0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00})},
		{"write for LED 2", 0x1234, 2, 0xFFFF, 0x00FF, 0x5555,
		 concat(header(0x12, 0x34),
			{0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x0B, 0x00, 0xFF, 0x00, 0x0C, 0x55, 0x55})},
		{"LED 1 registers 7 to 9", 0x0001, 1, 0x3333, 0x0F0F, 0x0000,
		 concat(header(0x00, 0x01),
			{0x00, 0x07, 0x33, 0x33, 0x00, 0x08, 0x0F, 0x0F, 0x00, 0x09, 0x00, 0x00})},
		{"sequence -1 is 0xFFFF", -1, 0, 0, 0, 0,
		 concat(header(0xFF, 0xFF),
			{0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00})},
		{"fields keep their low 16 bits", 0x7ABCD, 0, 0x12345, -1, 0x10000,
		 concat(header(0xAB, 0xCD),
			{0x00, 0x04, 0x23, 0x45, 0x00, 0x05, 0xFF, 0xFF, 0x00, 0x06, 0x00, 0x00})},
		// 3 * 0x5555 + 4 = 0x10003: computed in 32 bits, then cut to 16.
		{"register numbers cut to 16 bits", 0, 0x5555, 0, 0, 0,
		 concat(header(0x00, 0x00),
			{0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00})},
	};
	for (const packet_case &c : cases)
		EXPECT_EQ(filled(c.sequence, c.led, c.red, c.green, c.blue), c.expected) << c.name;
}

TEST(FillPacket, OverwritesTheReplyAndLeavesTheRestAlone)
{
	// The write datagram is built over the reply in the link's buffer.
	std::array<uint8_t, 1400> buffer{};
	buffer.fill(0x5A);
	fill_packet(buffer.data(), 0x0102, 1, 0, 0, 0);
	EXPECT_EQ(bytes(buffer.begin(), buffer.begin() + 44),
		  concat(header(0x01, 0x02), {0, 7, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0}));
	for (size_t i = 44; i < buffer.size(); ++i)
		ASSERT_EQ(buffer[i], 0x5A) << "byte " << i;
}

} // namespace
