#include "discovery_fakes.h"

#include "discovery/number_field.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
constexpr std::size_t kTargetIdentityOffset = 8 + 44;

class SendTest : public EndpointTest {
protected:
    void makeBest(int index)
    {
        useServers({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
        ASSERT_TRUE(settings.servers.offerBest(index));
    }
    NeighbourRecord merged(const HostRecord& record)
    {
        table.merge(std::span(&record, 1), 0);
        return table.snapshot(record);
    }
    static Bytes identityBytes(const HostIdentity& id) { return Bytes(id.begin(), id.end()); }
};
} // namespace

TEST_F(SendTest, OpenBindsThePortOrAnyFreePortAndStoresIt)
{
    EXPECT_TRUE(endpoint->open());
    EXPECT_EQ(table.local().host.portUdp, 1552);
    EXPECT_EQ(socket->multicastTtl, 32);
    EXPECT_EQ(socket->receiveBuffer, 1 << 20);
    EXPECT_EQ(socket->joinedGroup, 0xE0000105u);

    // Port taken: any free port, and a host that refuses the group still runs.
    socket->taken.insert(1552);
    socket->joinSucceeds = false;
    EXPECT_TRUE(endpoint->open(1552));
    EXPECT_EQ(table.local().host.portUdp, FakeDatagramSocket::kAssignedPort);
    // The port of the last run comes before any free port.
    EXPECT_TRUE(endpoint->open(1552, 40001));
    EXPECT_EQ(table.local().host.portUdp, 40001);

    socket->taken.insert({0, 40001});
    EXPECT_FALSE(endpoint->open(1552, 40001));
}

TEST_F(SendTest, AnnounceGoesToTheBestServerOnly)
{
    endpoint->announce(1);
    EXPECT_TRUE(socket->takeSent().empty());

    makeBest(1);
    deliver(header(2, 0, 0x4242), encodeHostRecord(hostRecord(1)));
    socket->takeSent();
    // The server's list has not come yet: a plain announce asks for it too, since the one asked
    // for first may have been lost.
    endpoint->announce(0);
    auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header().subType, 1);

    const Endpoint best{0x0A000002, 3001};
    deliver(header(2, 0, 0x4242), encodeHostRecord(hostRecord(2)), best);
    socket->takeSent();
    endpoint->announce(0);
    endpoint->announce(1);
    sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 2u);
    for (std::uint8_t form = 0; form < 2; ++form) {
        EXPECT_EQ(sent[form].destination, (Endpoint{0x0A000002, 3001}));
        EXPECT_EQ(sent[form].header(), (ControlDatagram{72, 1, form, 0x4242, 0, 0, 0}));
        EXPECT_EQ(Bytes(sent[form].payload().begin(), sent[form].payload().end()),
                  encodeHostRecord(table.local().host));
    }
}

TEST_F(SendTest, ServerProbeCarriesTheServerIndexAndOurIdentity)
{
    useServers({"10.0.0.1", "server.example", "10.0.0.3"});
    ASSERT_TRUE(endpoint->open());
    endpoint->probeServer(2);
    endpoint->probeServer(1); // a name is never resolved here
    endpoint->probeServer(5); // empty
    const auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, (Endpoint{0x0A000003, 3002}));
    EXPECT_EQ(sent[0].header().type, 0);
    EXPECT_EQ(sent[0].header().subType, 1);
    EXPECT_EQ(Bytes(sent[0].bytes.begin() + 8, sent[0].bytes.begin() + 12), (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(sent[0].payloadBytes(), identityBytes(identity(kLocalCopy)));
}

TEST_F(SendTest, RequestGoesStraightToANeighbourWithAUsableAddress)
{
    auto onPublic = hostRecord(3, 0x5E000003);
    onPublic.lanPrimary = onPublic.mapAddr;
    onPublic.portUdp = onPublic.mapPort;
    ASSERT_TRUE(endpoint->sendListingRequest("\\docs\\", 42, merged(onPublic)));
    const auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, (Endpoint{onPublic.mapAddr, onPublic.mapPort}));
    EXPECT_EQ(sent[0].header().type, 5);
    EXPECT_EQ(sent[0].header().subType, 0);
    const auto request = parseRequest(sent[0].payload());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header.kind, 1);
    EXPECT_EQ(request->header.parameter, 42u);
    EXPECT_EQ(request->header.record, table.local().host);
    EXPECT_EQ(request->text, "\\docs\\");
}

TEST_F(SendTest, RequestToANeighbourBehindATranslatorIsPunchedAndRelayed)
{
    makeBest(0);
    const auto target = merged(hostRecord(4, 0x5E000004));
    FileKey key{};
    key[7] = 7;
    endpoint->sendSourceLookup(key, 9, target);
    const auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 3u);

    const auto localId = identityBytes(table.local().host.identity);
    EXPECT_EQ(sent[0].destination, (Endpoint{target.host.mapAddr, target.host.mapPort}));
    EXPECT_EQ(sent[0].header().type, 144);
    // The probe names the address it was aimed at, so that the neighbour answers it.
    EXPECT_EQ(sent[0].header().address, target.host.mapAddr);
    EXPECT_EQ(sent[0].payloadBytes(), localId);

    EXPECT_EQ(sent[1].destination, (Endpoint{target.host.lanPrimary, target.host.portUdp}));
    EXPECT_EQ(sent[1].header().type, 144);
    EXPECT_EQ(sent[1].header().address, target.host.lanPrimary);

    EXPECT_EQ(sent[2].destination, (Endpoint{0x0A000001, 3000}));
    EXPECT_EQ(sent[2].header().type, 5);
    EXPECT_EQ(sent[2].header().subType, 0);
    const auto request = parseRequest(sent[2].payload());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->key, key);
    auto expectedRecord = table.local().host;
    std::copy(target.host.identity.begin(), target.host.identity.end(), expectedRecord.hosting.begin());
    EXPECT_EQ(request->header.record, expectedRecord);
    EXPECT_EQ(Bytes(sent[2].payload().begin() + kTargetIdentityOffset, sent[2].payload().begin() + 68),
              identityBytes(target.host.identity));
}

TEST_F(SendTest, WithoutAServerOnlyThePunchProbesGo)
{
    auto sameAsMapped = hostRecord(4, 0x5E000004);
    sameAsMapped.lanPrimary = sameAsMapped.mapAddr; // but another port: not directly reachable
    ASSERT_TRUE(endpoint->sendQuery("x", 1, merged(sameAsMapped)));
    const auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].header().type, 144);
}

TEST_F(SendTest, SearchAllReachesNeighboursSeenInTheLastTwoMinutes)
{
    const auto early = merged(hostRecord(1));
    clock.advanceSeconds(2);
    const auto later = merged(hostRecord(2));
    clock.advanceSeconds(119); // copy 1 is now 121 s old, copy 2 119 s
    ASSERT_TRUE(endpoint->searchAll("movie", 11));
    auto sent = socket->takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].destination, (Endpoint{later.host.lanPrimary, 1552}));
    const auto request = parseRequest(sent[0].payload());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header.kind, 0);
    EXPECT_EQ(request->header.flags, 11);
    EXPECT_EQ(request->header.parameter, 0u);
    EXPECT_EQ(request->text, "movie");

    EXPECT_FALSE(endpoint->searchAll(std::string("a\0b", 3), 1));
    EXPECT_FALSE(endpoint->sendQuery(std::string(65600, 'a'), 1, early));
    EXPECT_TRUE(socket->takeSent().empty());
}
