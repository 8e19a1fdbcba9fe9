// The endpoint's side of punching: which datagrams go to a neighbour's translator while a path is
// punched, the hop-limited keep-alives, and what opens the path.
#include "discovery_fakes.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
constexpr Ipv4 kTheirTranslator = 0x5E000004; // 94.0.0.4
constexpr std::uint8_t kRelayed = 1;

class PunchEndpointTest : public EndpointTest {
protected:
    PunchEndpointTest()
    {
        useServers({"10.0.0.1"});
        settings.servers.offerBest(0);
        auto local = table.local().host;
        local.mapAddr = kLocalPublic;
        local.mapPort = 1552;
        table.setLocal(local);
        table.merge(std::span(&peerHost, 1), 0);
    }
    NeighbourRecord peer() const { return table.snapshot(peerHost); }
    Endpoint mapped() const { return {peerHost.mapAddr, peerHost.mapPort}; }
    // Runs the endpoint's one-second tick for `seconds`; returns what went out meanwhile.
    std::vector<SentDatagram> run(int seconds)
    {
        std::vector<SentDatagram> all;
        for (int i = 0; i < seconds; ++i) {
            clock.advanceSeconds(1);
            endpoint->punchTick();
            for (auto& sent : socket->takeSent())
                all.push_back(std::move(sent));
        }
        return all;
    }
    std::vector<SentDatagram> toTranslator(const std::vector<SentDatagram>& sent) const
    {
        std::vector<SentDatagram> out;
        for (const auto& s : sent)
            if (s.destination == mapped())
                out.push_back(s);
        return out;
    }
    Bytes relayedRequest() const { return encodeKeyRequest(3, peerHost, FileKey{}); }

    HostRecord peerHost = hostRecord(4, kTheirTranslator);
};
} // namespace

TEST_F(PunchEndpointTest, TheStarterProbesOnceThenOnlyRefreshesItsOwnTranslatorUntilTheOpenerGetsThrough)
{
    endpoint->sendListingRequest("\\", 1, peer());
    auto first = toTranslator(socket->takeSent());
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].header().type, 144);
    EXPECT_EQ(first[0].header().address, kTheirTranslator); // so that it is answered
    EXPECT_EQ(first[0].hops, 0);
    EXPECT_EQ(toTranslator(run(1)).size(), 1u); // a second try

    // Unanswered: later requests are relayed, and only hop-limited datagrams go its way.
    auto sent = run(2);
    for (int i = 0; i < 40; ++i) {
        endpoint->sendListingRequest("\\", 1, peer());
        for (auto& s : run(1))
            sent.push_back(s);
    }
    const auto towards = toTranslator(sent);
    ASSERT_EQ(towards.size(), 4u);
    for (const auto& s : towards)
        EXPECT_EQ(s.hops, 1);

    // The opener's probe gets through the entry we kept: it is answered, and requests go straight.
    deliver(header(144, 0, 0, kLocalPublic), identity(4), mapped());
    const auto answers = socket->takeSent();
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers[0].header().subType, 1);
    EXPECT_EQ(answers[0].destination, mapped());
    EXPECT_NE(logText().find("Punch: " + identityText(identity(4)) + " open at 94.0.0.4:40004"), std::string::npos);
    endpoint->sendListingRequest("\\", 1, peer());
    const auto direct = socket->takeSent();
    ASSERT_EQ(direct.size(), 1u);
    EXPECT_EQ(direct[0].header().type, 5);
    EXPECT_EQ(direct[0].destination, mapped());
}

TEST_F(PunchEndpointTest, TheAskedSideAnswersOnceThenWaitsQuietlyAndOnlyItsTranslatorCanOpenThePath)
{
    deliver(header(5, kRelayed), relayedRequest(), kServer);
    auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u); // the fast answer: enough wherever nothing was poisoned
    EXPECT_EQ(sent[0].destination, mapped());

    auto quiet = run(3);
    for (int i = 0; i < 29; ++i) {
        deliver(header(5, kRelayed), relayedRequest(), kServer);
        for (auto& s : run(1))
            quiet.push_back(s);
    }
    // One more try at once, then silence towards its translator for longer than it remembers.
    EXPECT_EQ(toTranslator(quiet).size(), 1u);

    // Someone else naming the neighbour opens nothing.
    deliver(header(144, 1, 0, kTheirTranslator), identity(4), {0x5E000009, 40004});
    deliver(header(5, kRelayed), relayedRequest(), kServer);
    EXPECT_TRUE(toTranslator(socket->takeSent()).empty());

    const auto opening = toTranslator(run(3));
    ASSERT_FALSE(opening.empty());
    EXPECT_EQ(opening[0].header().type, 144);
    EXPECT_EQ(opening[0].hops, 0);
    // The keeper answers from its translator: the path is open and requests are answered there.
    deliver(header(144, 1, 0, kTheirTranslator), identity(4), mapped());
    EXPECT_EQ(table.at(*table.find(identity(4), false)).directAddr, 0u); // not an address for its own port
    socket->takeSent();
    deliver(header(5, kRelayed), relayedRequest(), kServer);
    sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header().type, 6);
    EXPECT_EQ(sent[0].destination, mapped());
}

TEST_F(PunchEndpointTest, NeighboursReachableWithoutPunchingGetNoPunch)
{
    auto onItsPublicAddress = hostRecord(6, 0x5E000006);
    onItsPublicAddress.lanPrimary = onItsPublicAddress.mapAddr;
    onItsPublicAddress.portUdp = onItsPublicAddress.mapPort;
    auto behindOurTranslator = hostRecord(7, kLocalPublic);
    for (const auto& record : {onItsPublicAddress, behindOurTranslator}) {
        table.merge(std::span(&record, 1), 0);
        deliver(header(144, 0, 0, kLocalPublic), record.identity, {record.mapAddr, record.mapPort});
        endpoint->sendListingRequest("\\", 1, table.snapshot(record));
        EXPECT_FALSE(endpoint->punchSchedule().phase(record.identity));
    }
    EXPECT_TRUE(toTranslator(run(60)).empty());
}
