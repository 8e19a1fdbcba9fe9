// Hostile and broken datagrams: none may cause a send, a kept copy or a crash.
#include <gtest/gtest.h>

#include "rendezvous_fixture.h"

namespace vandry::testing {
namespace {

class RendezvousMalformedTest : public RendezvousTest {
protected:
    void SetUp() override
    {
        announce(1);
        announce(2);
        socket.sent.clear();
    }

    // Every datagram below would be answered or passed on as it stands, since copies 1 and 2 are known.
    std::vector<std::vector<std::uint8_t>> validDatagrams() const
    {
        auto requester = copyRecord(2);
        requester.hosting = copyRecord(1).identity;
        std::vector<std::uint8_t> udtRelay{0x98, 0xFF, 5, 0, 60, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0};
        const auto record = encodeHostRecord(requester);
        udtRelay.insert(udtRelay.end(), record.begin(), record.end());
        return {
            controlDatagram(ControlType::ServerProbe, 1, copyRecord(3).identity),
            announceDatagram(copyRecord(3)),
            controlDatagram(ControlType::Request, 0,
                            *encodeTextRequest(RequestKind::ShareQuery, 0, 0, requester, "needle")),
            controlDatagram(ControlType::Request, 0, encodeKeyRequest(9, requester, FileKey{})),
            udtRelay,
        };
    }

    void expectIgnored(const std::vector<std::uint8_t>& datagram, const std::string& what)
    {
        socket.receive(datagram, copyEndpoint(3));
        EXPECT_TRUE(socket.sent.empty()) << what;
        EXPECT_EQ(server.copies().size(), 2u) << what;
        socket.sent.clear();
    }
};

TEST_F(RendezvousMalformedTest, TheValidDatagramsAreAnsweredOrPassedOn)
{
    for (const auto& datagram : validDatagrams()) {
        socket.receive(datagram, copyEndpoint(3));
        EXPECT_FALSE(socket.sent.empty());
        socket.sent.clear();
    }
}

TEST_F(RendezvousMalformedTest, EveryTruncationIsIgnoredWithOrWithoutAMatchingLengthField)
{
    for (const auto& valid : validDatagrams())
        for (std::size_t size = 0; size < valid.size(); ++size) {
            std::vector<std::uint8_t> cut(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(size));
            expectIgnored(cut, "cut to " + std::to_string(size));
            if (size >= 2 && valid[0] != 0x98) {
                storeU16le(cut, 0, static_cast<std::uint16_t>(size));
                expectIgnored(cut, "cut to " + std::to_string(size) + ", length field matching");
            }
        }
}

TEST_F(RendezvousMalformedTest, WrongLengthFieldsAndTrailingBytesAreIgnored)
{
    for (const auto& valid : validDatagrams()) {
        if (valid[0] == 0x98)
            continue;
        for (int delta : {-1, 1}) {
            auto wrong = valid;
            storeU16le(wrong, 0, static_cast<std::uint16_t>(valid.size() + delta));
            expectIgnored(wrong, "length field off by " + std::to_string(delta));
        }
        auto longer = valid;
        longer.push_back(0);
        storeU16le(longer, 0, static_cast<std::uint16_t>(longer.size()));
        expectIgnored(longer, "one byte more, length field matching");
    }
    auto longRelay = validDatagrams().back();
    longRelay.push_back(0);
    expectIgnored(longRelay, "UDT_RELAY with a byte more");
    auto badLengthBits = validDatagrams().back();
    badLengthBits[4] = 61;
    expectIgnored(badLengthBits, "UDT_RELAY whose length bits disagree");
}

TEST_F(RendezvousMalformedTest, UnknownTypesSubTypesAndEmptyIdentitiesAreIgnored)
{
    const auto record = encodeHostRecord(copyRecord(3));
    for (int type : {2, 3, 4, 6, 7, 144, 145, 146, 147, 255})
        expectIgnored(controlDatagram(static_cast<ControlType>(type), 0, record), "type " + std::to_string(type));
    for (int subType : {0, 2, 3})
        expectIgnored(
            controlDatagram(ControlType::ServerProbe, static_cast<std::uint8_t>(subType), copyRecord(3).identity),
            "probe sub-type " + std::to_string(subType));
    expectIgnored(announceDatagram(HostRecord{}), "announce of an all-zero identity");

    auto requester = copyRecord(2);
    requester.hosting = copyRecord(1).identity;
    auto badText = *encodeTextRequest(RequestKind::FolderListing, 0, 0, requester, "x");
    badText.back() = 'y'; // no terminating zero inside the length field's range
    expectIgnored(controlDatagram(ControlType::Request, 0, badText), "request text without its zero");
}

} // namespace
} // namespace vandry::testing
