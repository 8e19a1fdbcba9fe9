#include <gtest/gtest.h>

#include "discovery/host_record.h"

using namespace vandry;

namespace {
HostRecord sampleRecord()
{
    HostRecord r;
    for (int i = 0; i < 16; ++i)
        r.identity[i] = static_cast<std::uint8_t>(i + 1);
    r.mapAddr = 0x01020304;
    r.mapPort = 0x1122;
    r.agtPort = 0x3344;
    r.agtAddr = 0x05060708;
    r.lanPrimary = 0xC0A80001;
    r.lanSecondary = 0x0A000002;
    r.portUdp = 1552;
    r.portTcp = 1553;
    r.loading = {7, 8};
    r.setNickname("alice");
    return r;
}
} // namespace

TEST(HostRecordCodec, GoldenBytes)
{
    const auto bytes = encodeHostRecord(sampleRecord());
    ASSERT_EQ(bytes.size(), HostRecord::kSize);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[15], 16);
    EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin() + 16, bytes.begin() + 24)),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 0x22, 0x11, 0x44, 0x33}));
    EXPECT_EQ(bytes[28], 192);
    EXPECT_EQ(bytes[31], 1);
    EXPECT_EQ(bytes[36], 0x10); // 1552 = 0x0610
    EXPECT_EQ(bytes[37], 0x06);
    EXPECT_EQ(bytes[42], 7);
    EXPECT_EQ(bytes[44], 'a');
    EXPECT_EQ(bytes[49], 0);
}

TEST(HostRecordCodec, RoundTripsThroughBytesAndHex)
{
    const auto r = sampleRecord();
    const auto bytes = encodeHostRecord(r);
    ByteReader in(bytes);
    EXPECT_EQ(parseHostRecord(in), r);
    const auto hex = hostRecordHex(r);
    EXPECT_EQ(hex.size(), 120u);
    EXPECT_EQ(hostRecordFromHex(hex), r);
}

TEST(HostRecordCodec, RefusesShortInput)
{
    const auto bytes = encodeHostRecord(sampleRecord());
    ByteReader in(ByteSpan(bytes).first(59));
    EXPECT_FALSE(parseHostRecord(in));
    EXPECT_FALSE(hostRecordFromHex(std::string(118, '0')));
}

TEST(NeighbourRecordCodec, AppendsLocalFieldsAfterTheHostRecord)
{
    NeighbourRecord n;
    n.host = sampleRecord();
    n.directAddr = 0x0A000009;
    n.observedAddr = 0x0A00000A;
    n.observedPort = 4000;
    n.datagramOnly = 1;
    n.lastSeen = 0x7841479C;
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeNeighbourRecord(n, out);
    ASSERT_EQ(bytes.size(), NeighbourRecord::kSize);
    EXPECT_EQ(bytes[63], 9);
    EXPECT_EQ(bytes[70], 1);
    EXPECT_EQ(bytes[72], 0x9C);
    ByteReader in(bytes);
    EXPECT_EQ(parseNeighbourRecord(in), n);
}

TEST(HostRecordNickname, CutsAt15BytesOnACharacterBoundary)
{
    HostRecord r;
    r.setNickname("twenty-characters-xx");
    EXPECT_EQ(r.nickname(), "twenty-characte");
    r.setNickname("中文昵称很长很长"); // 24 bytes
    EXPECT_EQ(r.nickname(), "中文昵称很");
}
