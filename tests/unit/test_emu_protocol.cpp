// SPDX-License-Identifier: MIT
// glow_emu's decoding and register state: the emulator is the reference the
// system tests trust, so it must reject what a real controller would not take.
#include "emu_options.h"
#include "emu_protocol.h"
#include "packet.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace
{

using datagram_bytes = std::array<uint8_t, 44>;

datagram_bytes make(int sequence, int led, int red, int green, int blue)
{
	datagram_bytes bytes{};
	fill_packet(bytes.data(), sequence, led, red, green, blue);
	return bytes;
}

bool decodes(const uint8_t *bytes, size_t length, emu_datagram *datagram, std::string *why)
{
	char reason[96] = "";
	const bool ok = decode_datagram(bytes, length, datagram, reason, sizeof reason);
	*why = reason;
	return ok;
}

TEST(EmuDecode, ReadsSyncAndWriteDatagrams)
{
	emu_datagram datagram{};
	std::string why;
	datagram_bytes sync = make(0xFFFF, 2, 0, 0, 0);
	ASSERT_TRUE(decodes(sync.data(), sync.size(), &datagram, &why)) << why;
	EXPECT_TRUE(datagram.is_sync);
	EXPECT_EQ(datagram.led, 2);

	datagram_bytes write = make(0x1234, 1, 0x3333, 0x00FF, 0x5555);
	ASSERT_TRUE(decodes(write.data(), write.size(), &datagram, &why)) << why;
	EXPECT_FALSE(datagram.is_sync);
	EXPECT_EQ(datagram.sequence, 0x1234);
	EXPECT_EQ(datagram.led, 1);
	EXPECT_EQ(datagram.values[0], 0x3333);
	EXPECT_EQ(datagram.values[1], 0x00FF);
	EXPECT_EQ(datagram.values[2], 0x5555);
}

TEST(EmuDecode, RejectsEveryChangeOutsideSequenceAndValues)
{
	// Bytes that may carry anything: the sequence and the three values.
	const std::set<int> free_bytes = {6, 7, 34, 35, 38, 39, 42, 43};
	const datagram_bytes good = make(0x0001, 0, 0x1111, 0x2222, 0x3333);
	for (int i = 0; i < 44; ++i) {
		datagram_bytes changed = good;
		changed[static_cast<size_t>(i)] ^= 0x01;
		emu_datagram datagram{};
		std::string why;
		EXPECT_EQ(decodes(changed.data(), changed.size(), &datagram, &why), free_bytes.count(i) == 1)
			<< "byte " << i << ": " << why;
	}
}

TEST(EmuDecode, RejectsWrongLengthsAndForeignRegisters)
{
	const std::array<uint8_t, 64> long_buffer{};
	emu_datagram datagram{};
	std::string why;
	for (const size_t length : {0, 1, 7, 43, 45, 64}) {
		EXPECT_FALSE(decodes(long_buffer.data(), length, &datagram, &why));
		EXPECT_EQ(why, "length " + std::to_string(length) + ", not 44");
	}
	const datagram_bytes led3 = make(0x0001, 3, 0, 0, 0);
	EXPECT_FALSE(decodes(led3.data(), led3.size(), &datagram, &why));
	EXPECT_EQ(why, "registers 13, 14, 15 are not one LED's");
	const datagram_bytes below = make(0x0001, -1, 0, 0, 0); // registers 1, 2, 3
	EXPECT_FALSE(decodes(below.data(), below.size(), &datagram, &why));
}

TEST(EmuState, AppliesOnlyTheSequenceHandedOut)
{
	emu_controller controller{};
	controller.sequence = 0x0007;
	emu_datagram write{false, 0x0006, 2, {0xFFFF, 0x00FF, 0x5555}};
	EXPECT_FALSE(apply_write(&controller, &write));
	EXPECT_EQ(channel_value(&controller, 2, 0), 0);
	EXPECT_EQ(controller.sequence, 0x0007);

	write.sequence = 0x0007;
	EXPECT_TRUE(apply_write(&controller, &write));
	EXPECT_EQ(channel_value(&controller, 2, 0), 0xFFFF);
	EXPECT_EQ(channel_value(&controller, 2, 1), 0x00FF);
	EXPECT_EQ(channel_value(&controller, 2, 2), 0x5555);
	EXPECT_EQ(channel_value(&controller, 0, 0), 0); // other LEDs untouched
	EXPECT_EQ(controller.sequence, 0x0008);
	EXPECT_FALSE(apply_write(&controller, &write)); // a sequence is good once
}

TEST(EmuState, SequenceSkipsTheSyncValue)
{
	emu_controller controller{};
	controller.sequence = 0xFFFE;
	const emu_datagram write{false, 0xFFFE, 0, {1, 2, 3}};
	EXPECT_TRUE(apply_write(&controller, &write));
	EXPECT_EQ(controller.sequence, 0x0000);
}

TEST(EmuState, ReplyCarriesSequenceAndCurrentValues)
{
	emu_controller controller{};
	controller.sequence = 0x0A0B;
	const emu_datagram write{false, 0x0A0B, 1, {0x3333, 0, 0x0F0F}};
	apply_write(&controller, &write);
	datagram_bytes reply{};
	EXPECT_EQ(build_reply(&controller, 1, reply.data()), 44);
	EXPECT_EQ(reply, make(0x0A0C, 1, 0x3333, 0, 0x0F0F));

	char line[160];
	describe_led(&controller, 1, line, sizeof line);
	EXPECT_STREQ(line, "LED 1: red fast 0x3333, green off 0x0000, blue norm 0x0F0F (write 0x0A0B)");
	describe_led(&controller, 0, line, sizeof line);
	EXPECT_STREQ(line, "LED 0: red off 0x0000, green off 0x0000, blue off 0x0000 (never written)");
	EXPECT_STREQ(keyword_name(0x1234), "custom");
}

TEST(EmuOptions, AddressesAreFourDecimalOctets)
{
	for (const char *good : {"169.254.100.2", "0.0.0.0", "255.255.255.255", "10.0.0.1"})
		EXPECT_TRUE(is_dotted_quad(good)) << good;
	for (const char *bad : {"10.0.0", "1.2.3.4.5", "256.1.1.1", "169.254.100.010", "1..2.3", "",
				"1.2.3.4 ", "0x7f.0.0.1", "1.2.3.-4", "1000.1.1.1"})
		EXPECT_FALSE(is_dotted_quad(bad)) << bad;
}

} // namespace
