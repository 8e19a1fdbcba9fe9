#include <gtest/gtest.h>

#include "common/bytes.h"
#include "common/ipv4.h"

using namespace vandry;

TEST(ByteReader, ReadsLittleEndianAndNetworkOrderFields)
{
    const std::uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 10, 0, 0, 1};
    ByteReader in(data);
    EXPECT_EQ(in.u16le(), 0x0201);
    EXPECT_EQ(in.u32le(), 0x06050403u);
    EXPECT_EQ(in.u8(), 0x07);
    EXPECT_EQ(in.ipv4(), 0x0A000001u);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(in.remaining(), 0u);
}

TEST(ByteReader, RunningPastTheEndFailsStickilyAndYieldsZeros)
{
    const std::uint8_t data[] = {0xFF, 0xFF, 0xFF};
    ByteReader in(data);
    EXPECT_EQ(in.u32le(), 0u);
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(in.u8(), 0u); // even though one byte would fit, the reader stays failed
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_TRUE(in.span(1).empty());
}

TEST(ByteWriter, WritesWhatTheReaderReads)
{
    std::vector<std::uint8_t> buf;
    ByteWriter out(buf);
    out.u16le(0xBEEF);
    out.u64le(0x0102030405060708ull);
    out.ipv4(0xC0A80001);
    ASSERT_EQ(buf.size(), 14u);
    EXPECT_EQ(buf[0], 0xEF);
    EXPECT_EQ(buf[10], 192);
    ByteReader in(buf);
    EXPECT_EQ(in.u16le(), 0xBEEF);
    EXPECT_EQ(in.u64le(), 0x0102030405060708ull);
    EXPECT_EQ(in.ipv4(), 0xC0A80001u);
}

TEST(Ipv4Text, RoundTripsAndRejectsNonDottedQuads)
{
    EXPECT_EQ(ipv4ToText(0xC0A80102), "192.168.1.2");
    EXPECT_EQ(ipv4FromText("10.0.0.255"), 0x0A0000FFu);
    EXPECT_EQ(ipv4FromText("0.0.0.0"), 0u);
    for (const char* bad :
         {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a.b.c.d", "1.2.3.4 ", "localhost", "1..2.3", "0001.2.3.4"})
        EXPECT_FALSE(ipv4FromText(bad).has_value()) << bad;
}
