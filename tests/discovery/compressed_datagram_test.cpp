#include <gtest/gtest.h>

#include "discovery/compressed_datagram.h"
#include "discovery/control_datagram.h"

using namespace vandry;

namespace {
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kBufferCapacity = 65535 + 12;

// A type 2 datagram whose first `plain` payload bytes are sent as they are and the rest compressed.
Bytes compressedDatagram(const Bytes& payload, std::uint8_t plain)
{
    Bytes wire(payload.begin(), payload.begin() + plain);
    const auto packed = lzwEncode(std::span(payload).subspan(plain));
    wire.insert(wire.end(), packed.begin(), packed.end());
    return *buildControlDatagram({0, 2, 0, 5, 1, plain, 0x0A000001}, wire);
}

Bytes patterned(std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(i % 60 < 16 ? i / 60 : i % 7);
    return out;
}
} // namespace

TEST(CompressedDatagram, ExpandsAfterThePlainPrefixAndFixesTheLength)
{
    const auto payload = patterned(3 + 600);
    auto datagram = compressedDatagram(payload, 3);
    ASSERT_LT(datagram.size(), 12 + payload.size());
    ASSERT_EQ(expandCompressedDatagram(datagram, kBufferCapacity), LzwStatus::Ok);
    ASSERT_EQ(datagram.size(), 12 + payload.size());
    EXPECT_EQ(loadU16le(datagram, 0), 12 + payload.size());
    EXPECT_EQ(datagram[2], 2);
    EXPECT_EQ(datagram[4], 5);
    EXPECT_EQ(datagram[6], 0); // reads as uncompressed from now on
    EXPECT_EQ(datagram[7], 3);
    EXPECT_EQ(datagram[11], 1);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), datagram.begin() + 12));
}

TEST(CompressedDatagram, UncompressedDatagramsAreLeftAlone)
{
    auto datagram = *buildControlDatagram({0, 2, 0, 0, 0, 0, 0}, Bytes(60, 1));
    const auto before = datagram;
    EXPECT_EQ(expandCompressedDatagram(datagram, kBufferCapacity), LzwStatus::Ok);
    EXPECT_EQ(datagram, before);
}

TEST(CompressedDatagram, RefusalsLeaveTheDatagramUnchanged)
{
    const auto payload = patterned(1000);
    auto check = [](Bytes datagram, std::size_t capacity, LzwStatus expected) {
        const auto before = datagram;
        EXPECT_EQ(expandCompressedDatagram(datagram, capacity), expected);
        EXPECT_EQ(datagram, before);
    };
    // The plain prefix claims more bytes than the payload has.
    auto prefixTooLong = *buildControlDatagram({0, 2, 0, 0, 1, 9, 0}, Bytes(8, 0));
    check(prefixTooLong, kBufferCapacity, LzwStatus::Corrupt);
    check(Bytes(11, 0), kBufferCapacity, LzwStatus::Corrupt);

    auto corrupt = compressedDatagram(payload, 0);
    corrupt.pop_back(); // the end code is lost
    storeU16le(corrupt, 0, static_cast<std::uint16_t>(corrupt.size()));
    check(corrupt, kBufferCapacity, LzwStatus::Corrupt);

    const auto datagram = compressedDatagram(payload, 4);
    check(datagram, 12 + payload.size() - 1, LzwStatus::Overflow);
    auto exact = datagram;
    EXPECT_EQ(expandCompressedDatagram(exact, 12 + payload.size()), LzwStatus::Ok);
}

TEST(CompressedDatagram, TheLengthFieldLimitsTheResultTo65535)
{
    auto fits = compressedDatagram(Bytes(65535 - 12, 'r'), 0);
    EXPECT_EQ(expandCompressedDatagram(fits, 1 << 20), LzwStatus::Ok);
    EXPECT_EQ(fits.size(), 65535u);
    auto tooLarge = compressedDatagram(Bytes(65535 - 11, 'r'), 0);
    EXPECT_EQ(expandCompressedDatagram(tooLarge, 1 << 20), LzwStatus::Overflow);
}
