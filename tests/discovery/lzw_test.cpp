#include <gtest/gtest.h>

#include <random>

#include "discovery/lzw.h"

using namespace vandry;

namespace {
using Bytes = std::vector<std::uint8_t>;

// Packs codes most significant bit first, each at its own width.
Bytes pack(const std::vector<std::pair<unsigned, unsigned>>& codes)
{
    Bytes out;
    std::uint64_t acc = 0;
    unsigned bits = 0;
    for (auto [code, width] : codes) {
        acc = (acc << width) | code;
        bits += width;
        while (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
        }
    }
    if (bits > 0)
        out.push_back(static_cast<std::uint8_t>(acc << (8 - bits)));
    return out;
}

// An independent statement of the width rule: widths at which a stream of data codes, with no
// reset, is written. Entry count starts at 258 and grows with every data code but the first.
std::vector<std::pair<unsigned, unsigned>> literalStream(const Bytes& literals)
{
    std::vector<std::pair<unsigned, unsigned>> codes;
    unsigned width = 9;
    unsigned next = 258;
    for (std::size_t i = 0; i < literals.size(); ++i) {
        codes.push_back({literals[i], width});
        if (i > 0 && next < 16384 && ++next == (1u << width) - 1 && width < 14)
            ++width;
    }
    codes.push_back({257, width});
    return codes;
}

Bytes bytesOf(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

Bytes randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

void expectRoundTrip(const Bytes& data)
{
    const auto encoded = lzwEncode(data);
    const auto decoded = lzwDecode(encoded, data.size());
    ASSERT_EQ(decoded.status, LzwStatus::Ok);
    EXPECT_TRUE(decoded.bytes == data);
}

struct StreamShape {
    unsigned maxWidth = 0;
    int resets = 0;
    bool ended = false;
};

// Walks an encoded stream by code widths alone (the reset and end codes need no dictionary).
StreamShape shapeOf(const Bytes& stream)
{
    StreamShape shape;
    unsigned width = 9, next = 258;
    bool first = true;
    std::size_t bit = 0;
    while (bit + width <= stream.size() * 8) {
        unsigned code = 0;
        for (unsigned i = 0; i < width; ++i, ++bit)
            code = (code << 1) | ((stream[bit / 8] >> (7 - bit % 8)) & 1);
        shape.maxWidth = std::max(shape.maxWidth, width);
        if (code == 257) {
            shape.ended = true;
            break;
        }
        if (code == 256) {
            ++shape.resets;
            width = 9, next = 258, first = true;
            continue;
        }
        if (!first && next < 16384 && ++next == (1u << width) - 1 && width < 14)
            ++width;
        first = false;
    }
    return shape;
}
} // namespace

TEST(LzwGolden, EncoderWritesTheKwKwKCodeAndEndsWith257)
{
    // "AAA": literal 'A', then code 258 ("AA") before the decoder has defined it, then the end.
    const Bytes expected = pack({{65, 9}, {258, 9}, {257, 9}});
    EXPECT_EQ(expected, (Bytes{0x20, 0xC0, 0xA0, 0x20}));
    EXPECT_EQ(lzwEncode(bytesOf("AAA")), expected);
    const auto decoded = lzwDecode(expected, 100);
    ASSERT_EQ(decoded.status, LzwStatus::Ok);
    EXPECT_EQ(decoded.bytes, bytesOf("AAA"));
}

TEST(LzwGolden, WidensTo10BitsWhenTheNextFreeCodeReaches511)
{
    // 255 bytes with no repeated pair are 255 literal codes; the 254th adds entry 510, so the
    // next free code is 511 and the 255th literal and the end code are 10 bits wide.
    Bytes data(255);
    for (unsigned i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    auto codes = literalStream(data);
    EXPECT_EQ(codes[253].second, 9u);
    EXPECT_EQ(codes[254].second, 10u);
    EXPECT_EQ(lzwEncode(data), pack(codes));
    EXPECT_EQ(lzwDecode(pack(codes), data.size()).bytes, data);

    // Read at 9 bits, the same stream no longer decodes to the data.
    codes[254].second = 9;
    codes[255].second = 9;
    EXPECT_NE(lzwDecode(pack(codes), 1000).bytes, data);
}

TEST(LzwGolden, ResetReturnsToNineBitsAndAFreshDictionary)
{
    Bytes data(254);
    for (unsigned i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    auto codes = literalStream(data);
    codes.pop_back();
    ASSERT_EQ(codes.back().second, 9u);
    codes.push_back({256, 10}); // the width had just grown
    codes.push_back({'A', 9});
    codes.push_back({258, 9}); // defined afresh after the reset: "AA"
    codes.push_back({257, 9});
    auto expected = data;
    expected.insert(expected.end(), {'A', 'A', 'A'});
    const auto decoded = lzwDecode(pack(codes), 1000);
    ASSERT_EQ(decoded.status, LzwStatus::Ok);
    EXPECT_EQ(decoded.bytes, expected);
}

TEST(LzwDecode, ToleratesAFullDictionaryWithoutReset)
{
    // 17000 literals: the dictionary fills at 16383 and later codes stay 14 bits wide.
    const auto data = randomBytes(17000, 7);
    const auto codes = literalStream(data);
    EXPECT_EQ(codes.back().second, 14u);
    const auto decoded = lzwDecode(pack(codes), data.size());
    ASSERT_EQ(decoded.status, LzwStatus::Ok);
    EXPECT_EQ(decoded.bytes, data);
}

TEST(LzwDecode, EmptyDataAndPaddingAfterTheEnd)
{
    EXPECT_EQ(lzwDecode(pack({{257, 9}}), 0).status, LzwStatus::Ok);
    EXPECT_EQ(lzwDecode(pack({{256, 9}, {256, 9}, {257, 9}}), 0).status, LzwStatus::Ok);
    auto stream = pack({{'x', 9}, {257, 9}});
    stream.insert(stream.end(), {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(lzwDecode(stream, 10).bytes, bytesOf("x"));
}

TEST(LzwDecode, RejectsCorruptStreams)
{
    const std::vector<std::vector<std::pair<unsigned, unsigned>>> corrupt = {
        {{258, 9}, {257, 9}},                     // a dictionary code before any literal
        {{'a', 9}, {256, 9}, {300, 9}, {257, 9}}, // the same right after a reset
        {{'a', 9}, {259, 9}, {257, 9}},           // beyond the next free code (258)
        {{'a', 9}, {'b', 9}, {262, 9}, {257, 9}}, // likewise, later
        {{'a', 9}, {'b', 9}},                     // ends without code 257
    };
    for (const auto& codes : corrupt) {
        const auto result = lzwDecode(pack(codes), 1000);
        EXPECT_EQ(result.status, LzwStatus::Corrupt);
        EXPECT_TRUE(result.bytes.empty());
    }
    EXPECT_EQ(lzwDecode({}, 1000).status, LzwStatus::Corrupt);
}

TEST(LzwDecode, RejectsEveryTruncationOfAValidStream)
{
    const auto encoded = lzwEncode(bytesOf("to be or not to be, that is the question; to be or not"));
    for (std::size_t n = 0; n < encoded.size(); ++n)
        EXPECT_EQ(lzwDecode(std::span(encoded).first(n), 1000).status, LzwStatus::Corrupt) << n;
}

TEST(LzwDecode, RefusesOutputBeyondCapacity)
{
    const Bytes data(5000, 'q');
    const auto encoded = lzwEncode(data);
    EXPECT_EQ(lzwDecode(encoded, data.size()).status, LzwStatus::Ok);
    const auto over = lzwDecode(encoded, data.size() - 1);
    EXPECT_EQ(over.status, LzwStatus::Overflow);
    EXPECT_TRUE(over.bytes.empty());
    EXPECT_EQ(lzwDecode(pack({{'x', 9}, {257, 9}}), 0).status, LzwStatus::Overflow);
}

TEST(LzwRoundTrip, SmallAndRepetitiveData)
{
    expectRoundTrip({});
    expectRoundTrip({0});
    expectRoundTrip({0xFF});
    expectRoundTrip(bytesOf("abababababababababab"));
    expectRoundTrip(Bytes(100000, 'z'));
    expectRoundTrip(randomBytes(50000, 1));
}

TEST(LzwRoundTrip, LongMixedDataPassesEveryWidthAndResets)
{
    // Random runs, text-like repeats and long runs of one byte, about 200 KB.
    Bytes data;
    std::mt19937 rng(42);
    while (data.size() < 200000) {
        const auto kind = rng() % 3;
        const std::size_t n = 1 + rng() % 2000;
        for (std::size_t i = 0; i < n; ++i)
            data.push_back(kind == 0 ? static_cast<std::uint8_t>(rng()) : kind == 1 ? "record list "[i % 12] : 0);
    }
    const auto encoded = lzwEncode(data);
    const auto shape = shapeOf(encoded);
    EXPECT_EQ(shape.maxWidth, 14u);
    EXPECT_GE(shape.resets, 1);
    EXPECT_TRUE(shape.ended);
    const auto decoded = lzwDecode(encoded, data.size());
    ASSERT_EQ(decoded.status, LzwStatus::Ok);
    EXPECT_TRUE(decoded.bytes == data);
}
