#include <gtest/gtest.h>

#include <utility>

#include "udt_test_network.h"

namespace vandry::testing {
namespace {

constexpr Endpoint kA{0xC6120001, 1552};        // 198.18.0.1
constexpr Endpoint kB{0xC6120002, 1552};        // 198.18.0.2
constexpr Endpoint kC{0xC6120003, 1552};        // 198.18.0.3
constexpr Endpoint kBPublic{0xC6130002, 40002}; // B's translator, as a server sees it
constexpr std::uint8_t kLink = 5;

std::vector<WirePacket> ofType(const std::vector<WirePacket>& packets, UdtType type)
{
    std::vector<WirePacket> out;
    for (const auto& p : packets)
        if (p.parsed().header.type == type)
            out.push_back(p);
    return out;
}

class UdtHandshakeTest : public ::testing::Test {
protected:
    UdtHandshakeTest() : a(net.add(kA, 1)), b(net.add(kB, 2)) {}

    NeighbourRecord known(UdtCopy& in, const UdtCopy& of)
    {
        return in.neighbours.at(*in.neighbours.find(of.neighbours.local().host.identity, false));
    }

    UdtNetwork net;
    UdtCopy& a;
    UdtCopy& b;
};

TEST_F(UdtHandshakeTest, DirectCallEstablishesBothEnds)
{
    net.introduceAll();
    ASSERT_TRUE(a.transport->connect(kLink, known(a, b)));
    net.run();
    const auto sent = net.takeSent();
    ASSERT_EQ(ofType(sent, UdtType::UDT_CALL).size(), 1u);
    EXPECT_EQ(ofType(sent, UdtType::UDT_CALL)[0].to, kB);
    ASSERT_EQ(ofType(sent, UdtType::UDT_ACCEPT).size(), 1u);

    ASSERT_EQ(b.links.opened.size(), 1u);
    const std::uint8_t j = b.links.opened[0];
    EXPECT_EQ(a.links.connects, std::vector<std::uint8_t>{kLink});
    EXPECT_TRUE(b.links.connects.empty()); // the callee's link waits for the hello
    const auto caller = a.transport->view(kLink);
    const auto callee = b.transport->view(j);
    EXPECT_EQ(caller.state, UdtState::Established);
    EXPECT_EQ(callee.state, UdtState::Accepted);
    EXPECT_EQ(caller.tag, callee.tag);
    EXPECT_EQ(caller.outIndex, (kLink << 8) | j);
    EXPECT_EQ(callee.outIndex, (j << 8) | kLink);
    EXPECT_EQ(caller.peer, kB);
    EXPECT_EQ(callee.peer, kA);
}

TEST_F(UdtHandshakeTest, FirstOfTwoAnswersFixesThePath)
{
    // B sits behind a translator: A calls its LAN address and its public one, and both answer.
    HostRecord bHost = b.neighbours.local().host;
    bHost.mapAddr = kBPublic.address;
    bHost.mapPort = kBPublic.port;
    b.neighbours.setLocal(bHost);
    HostRecord aHost = a.neighbours.local().host;
    aHost.mapAddr = 0xC6130001;
    a.neighbours.setLocal(aHost);
    net.aliases[{kBPublic.address, kBPublic.port}] = kB;
    net.introduceAll();

    ASSERT_TRUE(a.transport->connect(kLink, known(a, b)));
    net.run();
    const auto sent = net.takeSent();
    const auto calls = ofType(sent, UdtType::UDT_CALL);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].to, kB);
    EXPECT_EQ(calls[1].to, kBPublic);
    EXPECT_EQ(ofType(sent, UdtType::UDT_ANSWER).size(), 2u);
    EXPECT_EQ(ofType(sent, UdtType::UDT_CONFIRM).size(), 1u);
    EXPECT_EQ(b.links.opened.size(), 1u);
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Established);
}

TEST_F(UdtHandshakeTest, CallForAnotherIdentityIsNotAnswered)
{
    net.introduceAll();
    NeighbourRecord wrong = known(a, b);
    wrong.host.identity[12] ^= 0xFF;
    ASSERT_TRUE(a.transport->connect(kLink, wrong));
    net.run();
    const auto sent = net.takeSent();
    EXPECT_EQ(ofType(sent, UdtType::UDT_CALL).size(), 1u);
    EXPECT_TRUE(ofType(sent, UdtType::UDT_ANSWER).empty());
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Calling);
}

TEST_F(UdtHandshakeTest, RelayedCallCarriesTheCallersAddressAndTheAnswerClearsTheFlag)
{
    UdtCopy& c = net.add(kC, 3);
    // A and B cannot address each other (different translators, no confirmed address); both
    // know C, which knows B under its public address.
    HostRecord bHost = b.neighbours.local().host;
    bHost.mapAddr = kBPublic.address;
    bHost.mapPort = kBPublic.port;
    bHost.lanPrimary = 0x0A000002;
    b.neighbours.setLocal(bHost);
    HostRecord aHost = a.neighbours.local().host;
    aHost.mapAddr = 0xC6130001;
    aHost.mapPort = kA.port;
    aHost.lanPrimary = 0x0A000001;
    a.neighbours.setLocal(aHost);
    net.aliases[{kBPublic.address, kBPublic.port}] = kB;
    net.introduceAll();
    a.server = kC;

    NeighbourRecord target = known(a, b);
    target.host.mapAddr = 0; // A knows no public address of B: only the relay can reach it
    target.host.lanPrimary = 0;
    ASSERT_TRUE(a.transport->connect(kLink, target));
    net.run();
    const auto sent = net.takeSent();
    const auto relays = ofType(sent, UdtType::UDT_RELAY);
    ASSERT_EQ(relays.size(), 1u);
    EXPECT_EQ(relays[0].to, kC);
    const auto calls = ofType(sent, UdtType::UDT_CALL);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].from, kC);
    EXPECT_EQ(calls[0].to, kBPublic);
    const auto call = *parseHandshakeRecord(calls[0].parsed().payload);
    EXPECT_TRUE(call.relayed());
    // B knows A from the introduction: it answers A's public address, and A's LAN address too.
    const auto answers = ofType(sent, UdtType::UDT_ANSWER);
    ASSERT_FALSE(answers.empty());
    EXPECT_FALSE(parseHandshakeRecord(answers[0].parsed().payload)->relayed());
    EXPECT_EQ(answers[0].to, (Endpoint{0xC6130001, kA.port}));
    EXPECT_EQ(c.links.opened.size(), 0u);
}

TEST_F(UdtHandshakeTest, RelayedCallFromAnUnknownCallerIsAnsweredAtTheRelayedAddress)
{
    UdtCopy& c = net.add(kC, 3);
    HostRecord bHost = b.neighbours.local().host;
    bHost.mapAddr = kB.address; // B sits on its public address
    bHost.mapPort = kB.port;
    b.neighbours.setLocal(bHost);
    c.neighbours.merge(std::vector<HostRecord>{bHost}, 0);
    HandshakeRecord record;
    const auto aBytes = encodeHostRecord(a.neighbours.local().host);
    std::copy_n(aBytes.begin(), 60, record.bytes.begin());
    record.setKey(b.neighbours.local().host.identity);
    Bytes packet(UdtHeader::kSize + 60);
    writeUdtHeader({kLink, 60, 0, UdtType::UDT_RELAY, 0, 0}, packet);
    std::copy(record.bytes.begin(), record.bytes.end(), packet.begin() + UdtHeader::kSize);
    c.transport->onDatagram(packet, kA);
    net.run();
    const auto answers = ofType(net.takeSent(), UdtType::UDT_ANSWER);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].to, kA); // bytes 16/20 as C wrote them
    EXPECT_EQ(answers[0].parsed().header.index, kLink);
}

TEST_F(UdtHandshakeTest, NoFreeLinkResetsTheCaller)
{
    net.introduceAll();
    b.links.freeLinks = false;
    ASSERT_TRUE(a.transport->connect(kLink, known(a, b)));
    net.run();
    const auto resets = ofType(net.takeSent(), UdtType::UDT_RESET);
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets[0].parsed().header.index, kLink);
    EXPECT_EQ(a.links.ends, std::vector<std::uint8_t>{kLink});
    EXPECT_TRUE(a.links.connects.empty());
}

TEST_F(UdtHandshakeTest, RepeatedConfirmKeepsTheSlotAndItsTag)
{
    net.introduceAll();
    net.hold = true;
    ASSERT_TRUE(a.transport->connect(kLink, known(a, b)));
    auto deliverNext = [&] {
        WirePacket p = net.inFlight().front();
        net.inFlight().pop_front();
        (p.to == kA ? a : b).transport->onDatagram(p.bytes, p.from);
        return p;
    };
    deliverNext(); // call
    deliverNext(); // answer
    const WirePacket confirm = deliverNext();
    net.clock.advanceSeconds(1); // a new draw would now give another tag
    b.transport->onDatagram(confirm.bytes, confirm.from);
    const auto sent = ofType(net.takeSent(), UdtType::UDT_ACCEPT);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].parsed().header.tag, sent[1].parsed().header.tag);
    EXPECT_EQ(b.links.opened.size(), 1u);
    net.hold = false;
    net.run();
    EXPECT_EQ(a.transport->view(kLink).tag, b.transport->view(b.links.opened[0]).tag);
    EXPECT_EQ(a.links.connects.size(), 1u);
}

// A copy that has just started may call a neighbour from the record a task kept, before its
// table lists it: unanswered, that call is repeated all the same.
TEST_F(UdtHandshakeTest, ACallForANeighbourTheTableDoesNotListYetIsRepeated)
{
    NeighbourRecord kept;
    kept.host = b.neighbours.local().host;
    bool dropped = false;
    net.drop = [&](const WirePacket& p) {
        return p.parsed().header.type == UdtType::UDT_CALL && !std::exchange(dropped, true);
    };
    ASSERT_TRUE(a.transport->connect(kLink, kept));
    net.run();
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Calling);
    net.tick();
    net.run();
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Established);
}

TEST_F(UdtHandshakeTest, UnansweredStepsAreRepeatedAndTheCallExpires)
{
    net.introduceAll();
    net.drop = [](const WirePacket& p) { return p.parsed().header.type == UdtType::UDT_ANSWER; };
    ASSERT_TRUE(a.transport->connect(kLink, known(a, b)));
    net.run();
    net.takeSent();
    net.tick();
    net.run();
    EXPECT_EQ(ofType(net.takeSent(), UdtType::UDT_CALL).size(), 1u);
    for (int i = 0; i < 70; ++i) {
        net.tick();
        net.run();
    }
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Calling);
    for (int i = 0; i < 4; ++i) {
        net.tick();
        net.run();
    }
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Free);
    EXPECT_EQ(a.links.ends, std::vector<std::uint8_t>{kLink});
}

} // namespace
} // namespace vandry::testing

namespace vandry::testing {
namespace {
// The discovery endpoint's punch schedule as the transport sees it.
struct FakePunchPaths final : PunchPaths {
    std::optional<Endpoint> directPath(const NeighbourRecord&) override { return path; }
    bool mayReachMapped(const NeighbourRecord&, PunchRole role) override
    {
        roles.push_back(role);
        return mappedOpen;
    }
    std::optional<Endpoint> path;
    bool mappedOpen = false;
    std::vector<PunchRole> roles;
};

TEST_F(UdtHandshakeTest, WhileAPathIsPunchedNeitherSideCallsOrAnswersTheMappedEndpoint)
{
    // Two translators: only the mapped endpoints and the relay lead from one copy to the other.
    HostRecord bHost = b.neighbours.local().host;
    bHost.mapAddr = kBPublic.address;
    bHost.mapPort = kBPublic.port;
    bHost.lanPrimary = 0x0A000002;
    b.neighbours.setLocal(bHost);
    const Endpoint aPublic{0xC6130001, 40001};
    HostRecord aHost = a.neighbours.local().host;
    aHost.mapAddr = aPublic.address;
    aHost.mapPort = aPublic.port;
    aHost.lanPrimary = 0x0A000001;
    a.neighbours.setLocal(aHost);
    net.aliases[{kBPublic.address, kBPublic.port}] = kB;
    net.aliases[{aPublic.address, aPublic.port}] = kA;
    UdtCopy& c = net.add(kC, 3);
    net.introduceAll();
    a.server = kC;
    FakePunchPaths aPunch, bPunch;
    a.transport->usePunchPaths(&aPunch);
    b.transport->usePunchPaths(&bPunch);

    ASSERT_TRUE(a.transport->connect(kLink, known(a, b)));
    net.run();
    auto sent = net.takeSent();
    for (const auto& p : sent)
        EXPECT_TRUE(p.to != kBPublic || p.from == kC) << "a call to B's translator spoils the punch";
    ASSERT_EQ(ofType(sent, UdtType::UDT_RELAY).size(), 1u);
    for (const auto& answer : ofType(sent, UdtType::UDT_ANSWER))
        EXPECT_NE(answer.to, aPublic) << "B's answer would spoil it too";
    EXPECT_EQ(aPunch.roles, std::vector<PunchRole>{PunchRole::Initiator});
    EXPECT_EQ(bPunch.roles, std::vector<PunchRole>{PunchRole::Responder});

    // The path is open: the repeated call goes straight there and the connection is made.
    aPunch.path = kBPublic;
    bPunch.path = aPublic;
    net.tick();
    net.run();
    sent = net.takeSent();
    ASSERT_EQ(ofType(sent, UdtType::UDT_CALL).size(), 1u);
    EXPECT_EQ(ofType(sent, UdtType::UDT_CALL)[0].to, kBPublic);
    EXPECT_TRUE(ofType(sent, UdtType::UDT_RELAY).empty());
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Established);
    EXPECT_TRUE(c.links.opened.empty());
}
} // namespace
} // namespace vandry::testing
