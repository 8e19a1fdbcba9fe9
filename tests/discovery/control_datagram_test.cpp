#include <gtest/gtest.h>

#include "discovery/control_datagram.h"

using namespace vandry;

namespace {
using Bytes = std::vector<std::uint8_t>;

HostRecord record(std::uint8_t id)
{
    HostRecord r;
    r.identity.fill(id);
    r.lanPrimary = 0xC0A80000u | id;
    r.portUdp = 1552;
    r.setNickname("n");
    return r;
}

Bytes datagramOfLength(std::size_t size, std::uint16_t field)
{
    Bytes d(size, 0);
    d[0] = static_cast<std::uint8_t>(field);
    d[1] = static_cast<std::uint8_t>(field >> 8);
    return d;
}
} // namespace

TEST(ControlHeader, GoldenBytesAndRoundTrip)
{
    const ControlDatagram h{0x0048, 2, 1, 0x0305, 1, 4, 0xC0A80102};
    Bytes bytes;
    ByteWriter out(bytes);
    encodeControlHeader(h, out);
    EXPECT_EQ(bytes, (Bytes{0x48, 0x00, 2, 1, 0x05, 0x03, 1, 4, 192, 168, 1, 2}));
    EXPECT_EQ(parseControlHeader(bytes), h);
    EXPECT_FALSE(parseControlHeader(std::span(bytes).first(11)));
}

TEST(ClassifyDatagram, ByLengthFieldAndReliableMarker)
{
    EXPECT_EQ(classifyDatagram(datagramOfLength(12, 12)), DatagramClass::Control);
    EXPECT_EQ(classifyDatagram(datagramOfLength(300, 300)), DatagramClass::Control);
    EXPECT_EQ(classifyDatagram(datagramOfLength(300, 299)), DatagramClass::Drop);
    EXPECT_EQ(classifyDatagram(datagramOfLength(40, 0xFF98)), DatagramClass::ReliableTransport);
    // Equal lengths make it a control datagram even when the field reads the marker.
    EXPECT_EQ(classifyDatagram(datagramOfLength(0xFF98, 0xFF98)), DatagramClass::Control);
    // A length that matches but cannot hold a header.
    EXPECT_EQ(classifyDatagram(datagramOfLength(11, 11)), DatagramClass::Drop);
    EXPECT_EQ(classifyDatagram(datagramOfLength(2, 2)), DatagramClass::Drop);
    EXPECT_EQ(classifyDatagram(Bytes{0x98}), DatagramClass::Drop);
    EXPECT_EQ(classifyDatagram({}), DatagramClass::Drop);
}

TEST(RequestCodec, TextRequestGoldenBytes)
{
    const auto payload = encodeTextRequest(RequestKind::FolderListing, 0, 0x01020304, record(9), "\\a");
    ASSERT_TRUE(payload);
    ASSERT_EQ(payload->size(), 71u);
    EXPECT_EQ((Bytes(payload->begin(), payload->begin() + 8)), (Bytes{71, 0, 1, 0, 4, 3, 2, 1}));
    EXPECT_EQ((*payload)[8], 9); // identity of the record
    EXPECT_EQ((Bytes(payload->end() - 3, payload->end())), (Bytes{'\\', 'a', 0}));
    const auto parsed = parseRequest(*payload);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->header.kind, 1);
    EXPECT_EQ(parsed->header.parameter, 0x01020304u);
    EXPECT_EQ(parsed->header.record, record(9));
    EXPECT_EQ(parsed->text, "\\a");
}

TEST(RequestCodec, KeyRequestIs104Bytes)
{
    FileKey key;
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(i + 1);
    const auto payload = encodeKeyRequest(77, record(3), key);
    ASSERT_EQ(payload.size(), 104u);
    EXPECT_EQ((Bytes(payload.begin(), payload.begin() + 4)), (Bytes{104, 0, 2, 0}));
    EXPECT_EQ(payload[68], 1);
    const auto parsed = parseRequest(payload);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->key, key);
    EXPECT_EQ(parsed->header.parameter, 77u);
}

TEST(RequestCodec, EncoderRefusesZerosAndWhatWouldNotFitADatagram)
{
    using namespace std::string_view_literals;
    EXPECT_FALSE(encodeTextRequest(RequestKind::ShareQuery, 0, 0, record(1), "a\0b"sv));
    const auto longest = encodeTextRequest(RequestKind::ShareQuery, 0, 0, record(1), std::string(65454, 'x'));
    ASSERT_TRUE(longest);
    const auto datagram = buildControlDatagram({0, 5, 0, 0, 0, 0, 0}, *longest);
    ASSERT_TRUE(datagram);
    EXPECT_EQ(datagram->size(), 65535u);
    EXPECT_EQ(loadU16le(*datagram, 0), 65535);
    EXPECT_FALSE(buildControlDatagram({}, Bytes(65524)));
    EXPECT_FALSE(encodeTextRequest(RequestKind::ShareQuery, 0, 0, record(1), std::string(65455, 'x')));
}

TEST(RequestValidity, LengthFieldMustMatchTheTextOrKey)
{
    const auto valid = *encodeTextRequest(RequestKind::ShareQuery, 3, 0, record(1), "abc");
    ASSERT_TRUE(parseRequest(valid));
    EXPECT_EQ(parseRequest(valid)->header.flags, 3);

    auto withField = [&](Bytes payload, std::uint16_t field) {
        storeU16le(payload, 0, field);
        return payload;
    };
    EXPECT_FALSE(parseRequest(withField(valid, 71))); // zero not inside the covered range
    EXPECT_FALSE(parseRequest(withField(valid, 68))); // no text at all
    EXPECT_FALSE(parseRequest(withField(valid, 0)));
    EXPECT_FALSE(parseRequest(withField(valid, 73))); // beyond the payload

    auto longer = valid;
    longer.push_back(0);
    EXPECT_FALSE(parseRequest(withField(longer, 73))); // 73 != 69 + 3: the text ends earlier
    // A reply's result follows the request data; the field still describes the request alone.
    longer.insert(longer.end(), {1, 2, 3});
    EXPECT_TRUE(parseRequest(longer));

    auto unterminated = valid;
    unterminated.back() = 'd';
    EXPECT_FALSE(parseRequest(unterminated));

    auto badKind = valid;
    badKind[2] = 3;
    EXPECT_FALSE(parseRequest(badKind));

    auto key = encodeKeyRequest(0, record(1), FileKey{});
    EXPECT_FALSE(parseRequest(std::span(key).first(103)));
    key.push_back(0);
    EXPECT_FALSE(parseRequest(withField(key, 105)));
    EXPECT_FALSE(parseRequest(std::span(valid).first(40)));
}

TEST(RecordList, WholeRecordsOnly)
{
    const std::vector<HostRecord> records{record(1), record(2)};
    const auto bytes = encodeRecordList(records);
    ASSERT_EQ(bytes.size(), 120u);
    EXPECT_EQ(parseRecordList(bytes), records);
    for (std::size_t n : {0u, 1u, 59u, 61u, 119u})
        EXPECT_FALSE(parseRecordList(std::span(bytes).first(n))) << n;
}

TEST(ServerList, GoldenBytesAndAtMostEightEntries)
{
    const Endpoint first{0x01020304, 3333};
    EXPECT_EQ(encodeServerList(std::vector{first}), (Bytes{1, 2, 3, 4, 0x05, 0x0D}));

    std::vector<Endpoint> ten;
    for (std::uint16_t i = 0; i < 10; ++i)
        ten.push_back({0x0A000000u + i, static_cast<std::uint16_t>(1000 + i)});
    auto bytes = encodeServerList(ten);
    const auto parsed = parseServerList(bytes);
    EXPECT_EQ(parsed, std::vector<Endpoint>(ten.begin(), ten.begin() + 8));

    // Only whole entries count.
    EXPECT_EQ(parseServerList(std::span(bytes).first(17)).size(), 2u);
    EXPECT_TRUE(parseServerList({}).empty());
}
