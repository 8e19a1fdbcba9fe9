#include "discovery_fakes.h"

#include <cstdlib>
#include <ctime>

using namespace vandry;
using namespace vandry::testing;

namespace {
constexpr std::uint8_t kRelayed = 3; // any sub-type but 0: forwarded by a server

Bytes textRequest(RequestKind kind, std::string_view text, std::uint8_t flags = 0,
                  const HostRecord& from = hostRecord(5))
{
    return *encodeTextRequest(kind, flags, 0x01020304, from, text);
}

FileKey key(std::uint8_t seed)
{
    FileKey k{};
    k[0] = seed;
    k[35] = 0xAB;
    return k;
}

class RequestServingTest : public EndpointTest {
protected:
    RequestServingTest() { useServers({"10.0.0.1"}); }
    // Serves `request` arriving with `subType` (relayed forms from the server) and returns the
    // only datagram sent, if any.
    std::optional<SentDatagram> serve(const Bytes& request, std::uint8_t subType = 0)
    {
        deliver(header(5, subType), request, subType == 0 ? kPeer : kServer);
        auto sent = socket->takeSent();
        EXPECT_LE(sent.size(), 1u);
        if (sent.empty())
            return std::nullopt;
        EXPECT_EQ(sent[0].header().type, 6);
        EXPECT_EQ(sent[0].header().subType, 0);
        return sent[0];
    }
    static Bytes payloadOf(const SentDatagram& sent) { return sent.payloadBytes(); }
    Bytes localRecord() const { return encodeHostRecord(table.local().host); }
    static Bytes recordIn(const Bytes& payload) { return Bytes(payload.begin() + 8, payload.begin() + 68); }
};
} // namespace

TEST_F(RequestServingTest, QueryIsAnsweredWithTheAnswerBlockItDescribes)
{
    services.fileLength = 3;
    services.folderLength = 2;
    services.answer = Bytes(2 * (3 + 2) + 8, 0x61);
    const auto reply = serve(textRequest(RequestKind::ShareQuery, "Song", 11));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->destination, kPeer);
    ASSERT_EQ(services.queries.size(), 1u);
    EXPECT_EQ(services.queries[0], (std::pair<std::string, std::uint8_t>{"Song", 11}));
    const auto payload = reply->payloadBytes();
    ASSERT_EQ(payload.size(), 68u + 8 + 2 * (3 + 2));
    EXPECT_EQ(loadU16le(payload, 0), 68);
    EXPECT_EQ(payload[3], 7);
    EXPECT_EQ(recordIn(payload), localRecord());
    EXPECT_EQ(payload.back(), 0x61);
}

TEST_F(RequestServingTest, QueryWithoutAnAnswerOrWithAnImpossibleBlockGetsNoReply)
{
    services.queryResult = 1000;
    EXPECT_FALSE(serve(textRequest(RequestKind::ShareQuery, "nothing")));
    services.queryResult = 2; // cut answers are not sent either
    EXPECT_FALSE(serve(textRequest(RequestKind::ShareQuery, "nothing")));
    // Counts claiming more than the 60000 bytes the query had.
    services.queryResult = 0;
    services.fileLength = 30000;
    services.folderLength = 0;
    EXPECT_FALSE(serve(textRequest(RequestKind::ShareQuery, "liar")));
}

TEST_F(RequestServingTest, ListingRequestAppendsTheFolderListing)
{
    services.listing = {9, 8, 7};
    const auto request = textRequest(RequestKind::FolderListing, "\\\\music\\\\live\\");
    const auto reply = serve(request);
    ASSERT_TRUE(reply);
    ASSERT_EQ(services.listings.size(), 1u);
    EXPECT_EQ(services.listings[0].first, "\\music\\live\\");
    EXPECT_EQ(services.listings[0].second, 65523u - request.size());
    const auto payload = reply->payloadBytes();
    ASSERT_EQ(payload.size(), request.size() + 3);
    EXPECT_EQ(loadU16le(payload, 0), request.size()); // the header length stays the request's
    EXPECT_EQ(Bytes(payload.begin() + 4, payload.begin() + 8), (Bytes{4, 3, 2, 1}));
    EXPECT_EQ(recordIn(payload), localRecord());
    EXPECT_TRUE(std::equal(request.begin() + 68, request.end(), payload.begin() + 68));
    EXPECT_EQ(payload.back(), 7);
}

TEST_F(RequestServingTest, ListingRequestOutsideTheShareOrTooLargeGetsNoReply)
{
    EXPECT_FALSE(serve(textRequest(RequestKind::FolderListing, "music\\")));
    EXPECT_FALSE(serve(textRequest(RequestKind::FolderListing, "")));
    services.listing = Bytes(65523, 1);
    EXPECT_FALSE(serve(textRequest(RequestKind::FolderListing, "\\")));
    EXPECT_EQ(services.listings.size(), 1u);
}

TEST_F(RequestServingTest, SourceLookupIsAnsweredWithOrWithoutAPath)
{
    services.paths[key(1)] = "\\films\\a.mkv";
    const auto found = serve(encodeKeyRequest(3, hostRecord(5), key(1)));
    ASSERT_TRUE(found);
    const auto payload = found->payloadBytes();
    ASSERT_EQ(payload.size(), 104u + 13);
    EXPECT_EQ(std::string(payload.begin() + 104, payload.end() - 1), "\\films\\a.mkv");
    EXPECT_EQ(payload.back(), 0);
    EXPECT_EQ(recordIn(payload), localRecord());

    const auto missing = serve(encodeKeyRequest(3, hostRecord(5), key(2)));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->payload().size(), 104u);
}

TEST_F(RequestServingTest, RequestsOfInvalidLengthGetNoReply)
{
    auto keyRequest = encodeKeyRequest(3, hostRecord(5), key(1));
    storeU16le(keyRequest, 0, 103);
    EXPECT_FALSE(serve(keyRequest));
    keyRequest.pop_back();
    storeU16le(keyRequest, 0, 104);
    EXPECT_FALSE(serve(keyRequest));

    // A text without its zero, and a length field that stops short of the zero.
    auto text = textRequest(RequestKind::FolderListing, "\\a");
    text.back() = 'b';
    EXPECT_FALSE(serve(text));
    text = textRequest(RequestKind::ShareQuery, "abc");
    storeU16le(text, 0, static_cast<std::uint16_t>(text.size() - 1));
    EXPECT_FALSE(serve(text));
    EXPECT_FALSE(serve(Bytes(67, 0)));
    EXPECT_TRUE(services.queries.empty());
}

TEST_F(RequestServingTest, TheRelayedFormIsHonouredOnlyFromAServer)
{
    auto known = hostRecord(5, 0x5E000005);
    table.merge(std::span(&known, 1), 0);
    deliver(header(5, kRelayed), encodeKeyRequest(3, known, key(1)), kPeer);
    EXPECT_TRUE(socket->takeSent().empty());
    EXPECT_TRUE(serve(encodeKeyRequest(3, known, key(1)), kRelayed));
}

TEST_F(RequestServingTest, AnswersToOneDestinationStopAtTheBudgetUntilItRefills)
{
    services.fileLength = 3;
    services.folderLength = 2;
    services.answer = Bytes(2 * (3 + 2) + 8, 0x61);
    const auto request = textRequest(RequestKind::ShareQuery, "Song", 11);
    const auto first = serve(request);
    ASSERT_TRUE(first);
    const auto size = static_cast<std::int64_t>(payloadOf(*first).size());
    std::int64_t answered = 1;
    while (answered < 100000 && serve(request))
        ++answered;
    // The burst, the last answer charged below zero.
    EXPECT_EQ(answered, (ReplyBudget::kDestinationBurst + size - 1) / size);
    clock.advanceMs(1000);
    EXPECT_TRUE(serve(request));
    // Another destination has a budget of its own.
    deliver(header(5), request, {kPeer.address + 1, 1552});
    EXPECT_EQ(socket->takeSent().size(), 1u);
}

TEST(ReplyBudget, AllDestinationsTogetherStopAtTheTotalBudget)
{
    ReplyBudget budget;
    std::int64_t sent = 0;
    for (Ipv4 destination = 1; destination <= 1000; ++destination)
        if (budget.take(destination, 60000, 5))
            sent += 60000;
    EXPECT_GE(sent, ReplyBudget::kTotalBurst);
    EXPECT_LT(sent, ReplyBudget::kTotalBurst + 60000);
    EXPECT_FALSE(budget.take(2000, 1, 6));   // a millisecond does not pay off what went below zero
    EXPECT_TRUE(budget.take(2000, 1, 1005)); // a second does
}

// A request forwarded by a server is answered to the requester, and noted in the log.
TEST_F(RequestServingTest, RelayedRequestIsAnsweredToTheRequesterAndLogged)
{
    setenv("TZ", "UTC0", 1);
    tzset();
    settings.logging = true;
    auto known = hostRecord(5, 0x5E000005);
    known.agtPort = 7;
    known.agtAddr = 0x01020304;
    known.loading = {3, 4};
    clock.setSeconds(1700000000); // 11-14 22:13:20 UTC
    table.merge(std::span(&known, 1), 0);
    table.confirmDirectAddress(*table.find(known.identity, false), known.lanPrimary);
    auto relayed = known;
    relayed.hosting = {}; // the requester put our identity there; the table knows its name
    const auto direct = serve(encodeKeyRequest(3, relayed, key(1)), kRelayed);
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->destination, (Endpoint{known.lanPrimary, known.portUdp}));
    EXPECT_EQ(logText(), "SessionReply: Len=104,Major=6,Minor=0,Direct=0,Host=5\r\n"
                         "Conn=192.168.0.5:1552\r\n"
                         "PortUDP: 1552\r\n"
                         "PortTCP: 1552\r\n"
                         "MapPort: 40005\r\n"
                         "MapAddr: 94.0.0.5\r\n"
                         "AgtPort: 7\r\n"
                         "AgtAddr: 1.2.3.4\r\n"
                         "Loading: [0]=3, [1]=4\r\n"
                         "Hosting: copy5\r\n"
                         "Identit: " +
                             identityText(known.identity) +
                             "\r\n"
                             "Actives: 11-14 22:13:20\r\n"
                             "TrkLink: 0.0.0.0\r\n");

    // A stranger with no usable address: its mapped address, "Host=", never seen.
    log.open(logPath);
    const auto stranger = hostRecord(6, 0x5E000006);
    const auto mapped = serve(encodeKeyRequest(3, stranger, key(1)), kRelayed);
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->destination, (Endpoint{stranger.mapAddr, stranger.mapPort}));
    const auto text = logText();
    EXPECT_NE(text.find("Host=94.0.0.6:40006\r\nPortUDP: 1552\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Actives: -\r\n"), std::string::npos) << text;

    // Direct requests are not logged, nor is anything while logging is off.
    log.open(logPath);
    ASSERT_TRUE(serve(encodeKeyRequest(3, stranger, key(1))));
    settings.logging = false;
    ASSERT_TRUE(serve(encodeKeyRequest(3, stranger, key(1)), kRelayed));
    EXPECT_EQ(logText(), "");
}
