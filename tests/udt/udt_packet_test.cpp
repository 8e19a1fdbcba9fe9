#include <gtest/gtest.h>

#include "udt/receive_ranges.h"
#include "udt/udt_packet.h"

namespace vandry {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(UdtPacket, HeaderGoldenBytesAndFields)
{
    Bytes packet(UdtHeader::kSize + 3, 0xEE);
    writeUdtHeader({0x0502, 3, 0x2AB, UdtType::UDT_PUSH, 0x11223344, 0xA0B0C0D0}, packet);
    const std::uint32_t word = 3 | (0x2ABu << 14) | (1u << 24);
    const Bytes expected{0x98,
                         0xFF,
                         0x02,
                         0x05,
                         static_cast<std::uint8_t>(word),
                         static_cast<std::uint8_t>(word >> 8),
                         static_cast<std::uint8_t>(word >> 16),
                         static_cast<std::uint8_t>(word >> 24),
                         0x44,
                         0x33,
                         0x22,
                         0x11,
                         0xD0,
                         0xC0,
                         0xB0,
                         0xA0};
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 16), expected);

    const auto parsed = parseUdtPacket(packet);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->header.receiverIndex(), 2);
    EXPECT_EQ(parsed->header.senderIndex(), 5);
    EXPECT_EQ(parsed->header.payloadLength, 3);
    EXPECT_EQ(parsed->header.tag, 0x2AB);
    EXPECT_EQ(parsed->header.type, UdtType::UDT_PUSH);
    EXPECT_EQ(parsed->header.offset, 0x11223344u);
    EXPECT_EQ(parsed->header.ack, 0xA0B0C0D0u);
    EXPECT_EQ(parsed->payload.size(), 3u);
}

TEST(UdtPacket, ShortOrForeignDatagramsAreNotPackets)
{
    Bytes packet(UdtHeader::kSize, 0);
    writeUdtHeader({}, packet);
    EXPECT_TRUE(parseUdtPacket(packet));
    EXPECT_FALSE(parseUdtPacket(ByteSpan(packet).first(15)));
    packet[0] = 0x97;
    EXPECT_FALSE(parseUdtPacket(packet));
}

TEST(UdtPacket, HandshakeRecordFields)
{
    HandshakeRecord record;
    HostIdentity key{};
    key[0] = 7;
    key[15] = 9;
    record.setKey(key);
    record.setMapped({0xC6120001, 1552});
    record.setRelayed(true);
    EXPECT_EQ(record.bytes[44], 7);
    EXPECT_EQ(record.bytes[59], 9);
    EXPECT_EQ(record.bytes[16], 0xC6); // network byte order
    EXPECT_EQ(record.bytes[19], 0x01);
    EXPECT_EQ(record.bytes[20], 1552 & 0xFF);
    EXPECT_EQ(record.bytes[40], 1);
    EXPECT_EQ(record.key(), key);
    EXPECT_EQ(record.mapped(), (Endpoint{0xC6120001, 1552}));
    EXPECT_FALSE(parseHandshakeRecord(ByteSpan(record.bytes).first(59)));
    EXPECT_TRUE(parseHandshakeRecord(record.bytes));
}

TEST(ReceiveRanges, MergesOverlappingAndTouchingRanges)
{
    ReceiveRanges r;
    EXPECT_TRUE(r.add(10, 20));
    EXPECT_TRUE(r.add(30, 40));
    EXPECT_EQ(r.contiguousEnd(), 0u);
    EXPECT_TRUE(r.add(20, 30)); // touches both
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].start, 10u);
    EXPECT_EQ(r[0].end, 40u);
    EXPECT_TRUE(r.add(0, 5));
    EXPECT_TRUE(r.add(3, 12));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r.contiguousEnd(), 40u);
    EXPECT_FALSE(r.add(5, 5));
}

TEST(ReceiveRanges, BoundedAndRenumberedAfterDelivery)
{
    ReceiveRanges r;
    for (std::uint32_t i = 0; i < ReceiveRanges::kMaxRanges; ++i)
        ASSERT_TRUE(r.add(10 + i * 10, 15 + i * 10));
    EXPECT_FALSE(r.add(1000, 1001)); // a 33rd range
    EXPECT_TRUE(r.add(12, 14));      // inside one: no new range
    EXPECT_TRUE(r.add(0, 10));       // joins the first
    EXPECT_EQ(r.size(), ReceiveRanges::kMaxRanges);
    EXPECT_EQ(r.contiguousEnd(), 15u);
    r.consume(5); // part of the contiguous data
    EXPECT_EQ(r.size(), ReceiveRanges::kMaxRanges);
    EXPECT_EQ(r.contiguousEnd(), 10u);
    r.consume(10);
    EXPECT_EQ(r.size(), ReceiveRanges::kMaxRanges - 1);
    EXPECT_EQ(r[0].start, 5u);
    EXPECT_EQ(r[0].end, 10u);
}

} // namespace
} // namespace vandry
