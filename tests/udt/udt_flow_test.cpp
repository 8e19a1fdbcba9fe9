#include <gtest/gtest.h>

#include <random>

#include "udt_test_network.h"

namespace vandry::testing {
namespace {

constexpr Endpoint kA{0xC6120001, 1552};
constexpr Endpoint kB{0xC6120002, 1552};
constexpr std::uint8_t kLink = 3;

class UdtFlowTest : public ::testing::Test {
protected:
    UdtFlowTest() : a(net.add(kA, 1)), b(net.add(kB, 2))
    {
        net.introduceAll();
        const auto slot = a.neighbours.find(b.neighbours.local().host.identity, false);
        a.transport->connect(kLink, a.neighbours.at(*slot));
        net.run();
        net.takeSent();
        j = b.links.opened.at(0);
    }

    // Delivers the packet at `at` of those in flight.
    void deliver(std::size_t at)
    {
        WirePacket p = net.inFlight()[at];
        net.inFlight().erase(net.inFlight().begin() + static_cast<std::ptrdiff_t>(at));
        (p.to == kA ? a : b).transport->onDatagram(p.bytes, p.from);
    }

    // A packet to B's connection as A would send it, with the given fields.
    Bytes toB(UdtType type, std::uint32_t offset, std::uint32_t ack, const Bytes& payload,
              std::optional<std::uint16_t> tag = std::nullopt)
    {
        const auto v = a.transport->view(kLink);
        Bytes packet(UdtHeader::kSize + payload.size());
        writeUdtHeader({v.outIndex, static_cast<std::uint16_t>(payload.size()), tag.value_or(v.tag), type, offset, ack},
                       packet);
        std::copy(payload.begin(), payload.end(), packet.begin() + UdtHeader::kSize);
        return packet;
    }

    // Runs the network and the timers until both links hold `size` bytes, or gives up.
    bool exchangeUntil(std::size_t toA, std::size_t toB, int maxTicks = 400)
    {
        for (int i = 0; i < maxTicks; ++i) {
            net.run();
            if (a.links.streams[kLink].size() >= toA && b.links.streams[j].size() >= toB)
                return true;
            net.tick();
        }
        return false;
    }

    UdtNetwork net;
    UdtCopy& a;
    UdtCopy& b;
    std::uint8_t j = 0;
};

TEST_F(UdtFlowTest, QueuedBytesGoOutInPacketsOfAtMost1440)
{
    net.hold = true;
    const Bytes data = pattern(3000, 1);
    EXPECT_EQ(a.transport->queue(kLink, data), 3000u);
    net.run();
    const auto sent = net.takeSent();
    ASSERT_EQ(sent.size(), 3u);
    const std::uint32_t lengths[] = {1440, 1440, 120};
    const std::uint32_t offsets[] = {0, 1440, 2880};
    const UdtType types[] = {UdtType::UDT_DATA, UdtType::UDT_DATA, UdtType::UDT_PUSH};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto h = sent[i].parsed().header;
        EXPECT_EQ(h.payloadLength, lengths[i]);
        EXPECT_EQ(h.offset, offsets[i]);
        EXPECT_EQ(h.type, types[i]);
        EXPECT_EQ(h.receiverIndex(), j);
    }
    EXPECT_EQ(a.transport->view(kLink).sendNext, 3000u);
}

TEST_F(UdtFlowTest, OutOfOrderDataIsProbedStoredAndDeliveredOnceTheBatchIsWhole)
{
    net.hold = true;
    const Bytes data = pattern(3000, 2);
    a.transport->queue(kLink, data);
    net.run();
    net.takeSent();
    deliver(1); // offset 1440, type 0
    deliver(1); // offset 2880, type 1
    auto answers = net.takeSent();
    ASSERT_EQ(answers.size(), 2u);
    for (const auto& p : answers) {
        EXPECT_EQ(p.parsed().header.type, UdtType::UDT_PROBE);
        EXPECT_EQ(p.parsed().header.ack, 0u);
    }
    EXPECT_EQ(b.links.deliveries, 0);
    deliver(0); // offset 0, type 0: completes the pushed batch
    EXPECT_EQ(b.transport->view(j).recvNext, 3000u);
    EXPECT_EQ(b.links.streams[j], data);
    EXPECT_EQ(b.transport->view(j).ranges, 0u);
}

TEST_F(UdtFlowTest, InOrderDataWaitsForThePushOrTheThreshold)
{
    net.hold = true;
    a.transport->queue(kLink, pattern(20000, 3));
    net.run();
    for (int i = 0; i < 11; ++i)
        deliver(0);
    EXPECT_EQ(b.links.deliveries, 0); // 15840 bytes: below the threshold, no push yet
    deliver(0);
    EXPECT_EQ(b.links.streams[j].size(), 17280u);
    while (!net.inFlight().empty())
        deliver(0);
    EXPECT_EQ(b.links.streams[j], pattern(20000, 3));
}

TEST_F(UdtFlowTest, BytesALinkCannotTakeYetWaitForIt)
{
    b.links.room = 1000;
    const Bytes data = pattern(5000, 12);
    a.transport->queue(kLink, data);
    net.run();
    EXPECT_EQ(b.links.streams[j].size(), 1000u);
    EXPECT_EQ(b.transport->view(j).recvBase, 1000u);
    b.links.room = SIZE_MAX;
    b.transport->deliverPending(j);
    EXPECT_EQ(b.links.streams[j], data);
    EXPECT_EQ(b.transport->view(j).recvBase, 5000u);
}

TEST_F(UdtFlowTest, APacketThatFreesRoomAndBringsDataDeliversItOnce)
{
    // A link told of room sends its waiting bytes and asks for what was received meanwhile.
    a.links.onWritable = [&](std::uint8_t link) { a.transport->deliverPending(link); };
    EXPECT_EQ(a.transport->queue(kLink, pattern(70000, 13)), 65535u);
    // B's acknowledgements are lost: its own data brings the next one.
    net.drop = [](const WirePacket& p) { return p.from == kB && p.parsed().payload.empty(); };
    net.run();
    EXPECT_TRUE(a.links.writables.empty());
    const Bytes reply = pattern(3000, 14);
    b.transport->queue(j, reply);
    net.run();
    EXPECT_EQ(a.links.writables.size(), 1u);
    EXPECT_EQ(a.links.streams[kLink], reply);
}

TEST_F(UdtFlowTest, ProbesAreAnsweredByStateAndRepeatsChangeOnlyTheAck)
{
    net.hold = true;
    // Nothing outstanding on B: an empty probe gets an empty type 0.
    b.transport->onDatagram(toB(UdtType::UDT_PROBE, 0, 0, {}), kA);
    auto sent = net.takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].parsed().header.type, UdtType::UDT_DATA);
    EXPECT_EQ(sent[0].parsed().header.payloadLength, 0u);

    // B has unacknowledged data: the probe makes it resend instead.
    b.transport->queue(j, pattern(100, 4));
    b.runWork();
    net.inFlight().clear();
    net.takeSent();
    b.transport->onDatagram(toB(UdtType::UDT_PROBE, 0, 0, {}), kA);
    EXPECT_TRUE(net.takeSent().empty());
    b.runWork();
    sent = net.takeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].parsed().header.type, UdtType::UDT_RESEND);
    EXPECT_EQ(sent[0].parsed().header.offset, 0u);
    EXPECT_EQ(sent[0].parsed().header.payloadLength, 100u);

    // A repeated data packet moves only the acknowledgement and gets no answer.
    b.transport->onDatagram(toB(UdtType::UDT_PUSH, 0, 0, pattern(10, 5)), kA);
    net.takeSent();
    const auto before = b.transport->view(j);
    b.transport->onDatagram(toB(UdtType::UDT_PUSH, 0, 100, pattern(10, 5)), kA);
    b.runWork();
    EXPECT_TRUE(net.takeSent().empty());
    const auto after = b.transport->view(j);
    EXPECT_EQ(after.recvNext, before.recvNext);
    EXPECT_EQ(after.peerAcked, 100u);
    EXPECT_EQ(b.links.streams[j], pattern(10, 5));
}

TEST_F(UdtFlowTest, AcknowledgedBytesFreeTheSendBufferForAFrameThatDidNotFit)
{
    const Bytes big = pattern(70000, 6);
    const std::size_t taken = a.transport->queue(kLink, big);
    EXPECT_EQ(taken, 65535u);
    EXPECT_EQ(a.transport->queue(kLink, ByteSpan(big).subspan(taken)), 0u);
    net.run(); // B acknowledges the pushed batch, having nothing to send
    EXPECT_EQ(a.links.writables, std::vector<std::uint8_t>{kLink});
    const auto v = a.transport->view(kLink);
    EXPECT_EQ(v.sendBase, 65535u); // restarted at the acknowledged offset
    EXPECT_EQ(v.queued, 0u);
    EXPECT_EQ(a.transport->queue(kLink, ByteSpan(big).subspan(taken)), big.size() - taken);
    net.run();
    EXPECT_EQ(b.links.streams[j], big);
}

TEST_F(UdtFlowTest, StreamsSurviveLossAndReorderingBothWays)
{
    std::mt19937 random(42);
    net.drop = [&](const WirePacket&) { return random() % 100 < 10; };
    net.overtake = [&] { return random() % 100 < 10; };
    const Bytes toB = pattern(300000, 8);
    const Bytes toA = pattern(120000, 9);
    std::size_t queuedB = 0, queuedA = 0;
    for (int round = 0;
         round < 3000 && (b.links.streams[j].size() < toB.size() || a.links.streams[kLink].size() < toA.size());
         ++round) {
        queuedB += a.transport->queue(kLink, ByteSpan(toB).subspan(queuedB));
        queuedA += b.transport->queue(j, ByteSpan(toA).subspan(queuedA));
        net.run();
        net.tick();
    }
    EXPECT_EQ(b.links.streams[j], toB);
    EXPECT_EQ(a.links.streams[kLink], toA);
    EXPECT_TRUE(a.links.ends.empty());
}

TEST_F(UdtFlowTest, ALostLastPacketIsProbedForAfterOneTick)
{
    net.drop = [](const WirePacket& p) { return p.parsed().header.type == UdtType::UDT_PUSH && p.from == kA; };
    a.transport->queue(kLink, pattern(3000, 15));
    net.run();
    net.drop = nullptr;
    EXPECT_TRUE(b.links.streams[j].empty());
    net.clock.advanceMs(400);
    a.transport->tick();
    net.run();
    EXPECT_TRUE(b.links.streams[j].empty()); // not yet a tick without progress
    net.tick(100);
    net.run();
    EXPECT_EQ(b.links.streams[j], pattern(3000, 15));
}

TEST_F(UdtFlowTest, EndsThatBothMissDataDoNotProbeEachOtherForEver)
{
    net.hold = true;
    a.transport->queue(kLink, pattern(3000, 10));
    b.transport->queue(j, pattern(3000, 11));
    net.run();
    // Each side loses the other's first packet; the rest arrive and each sees a gap.
    net.inFlight().erase(net.inFlight().begin() + 3);
    net.inFlight().erase(net.inFlight().begin());
    net.hold = false;
    const int packets = net.run(10000);
    EXPECT_LT(packets, 40);
    EXPECT_TRUE(net.inFlight().empty());
    EXPECT_EQ(b.links.streams[j], pattern(3000, 10));
    EXPECT_EQ(a.links.streams[kLink], pattern(3000, 11));
}

TEST_F(UdtFlowTest, ForgedPacketsChangeNothing)
{
    constexpr Endpoint kStranger{0xC6120009, 1552};
    const auto before = b.transport->view(j);
    const Endpoint wrongPort{kA.address, 1553};
    b.transport->onDatagram(toB(UdtType::UDT_RESET, 0, 0, Bytes(60)), kStranger);
    b.transport->onDatagram(toB(UdtType::UDT_RESET, 0, 0, Bytes(60)), wrongPort);
    b.transport->onDatagram(toB(UdtType::UDT_RESET, 0, 0, Bytes(60), before.tag ^ 1), kA);
    b.transport->onDatagram(toB(UdtType::UDT_PUSH, 0, 0, pattern(10, 1)), kStranger);
    b.transport->onDatagram(toB(UdtType::UDT_PUSH, 0, 0, pattern(10, 1), before.tag ^ 1), kA);
    Bytes badLength = toB(UdtType::UDT_PUSH, 0, 0, pattern(10, 1));
    badLength.push_back(0);
    b.transport->onDatagram(badLength, kA);
    // An accept for a connection nobody called.
    Bytes accept = toB(UdtType::UDT_ACCEPT, 0, 0, Bytes(60));
    a.transport->onDatagram(accept, kB);
    b.runWork();
    EXPECT_TRUE(b.links.ends.empty());
    EXPECT_EQ(b.links.deliveries, 0);
    EXPECT_EQ(b.transport->view(j).state, UdtState::Accepted);
    EXPECT_EQ(b.transport->view(j).recvNext, 0u);
    EXPECT_EQ(a.links.connects.size(), 1u);

    // The real peer's reset ends the connection.
    b.transport->onDatagram(toB(UdtType::UDT_RESET, 0, 0, Bytes(60)), kA);
    EXPECT_EQ(b.links.ends, std::vector<std::uint8_t>{j});
}

TEST_F(UdtFlowTest, NothingReceivedGoesBeyondTheBufferOrTheRangeTable)
{
    net.hold = true;
    b.transport->onDatagram(toB(UdtType::UDT_DATA, 131071 - 10, 0, pattern(100, 1)), kA);
    b.transport->onDatagram(toB(UdtType::UDT_DATA, 0xFFFFFF00u, 0, pattern(100, 1)), kA);
    EXPECT_EQ(b.transport->view(j).ranges, 0u);
    for (std::uint32_t i = 0; i < 40; ++i)
        b.transport->onDatagram(toB(UdtType::UDT_DATA, 100 + i * 20, 0, pattern(10, 1)), kA);
    EXPECT_EQ(b.transport->view(j).ranges, ReceiveRanges::kMaxRanges);
    // An acknowledgement of bytes never sent is ignored.
    b.transport->onDatagram(toB(UdtType::UDT_PUSH, 0, 5000, {}), kA);
    EXPECT_EQ(b.transport->view(j).peerAcked, 0u);
}

TEST_F(UdtFlowTest, IdleConnectionExpiresAfter37Seconds)
{
    for (int i = 0; i < 60; ++i) {
        a.transport->queue(kLink, pattern(10, 1)); // activity keeps it alive
        net.run();
        net.tick();
    }
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Established);
    for (int i = 0; i < 71; ++i)
        net.tick();
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Established); // 36 s after the last byte
    net.tick();
    a.runWork();
    b.runWork();
    EXPECT_EQ(a.transport->view(kLink).state, UdtState::Free);
    EXPECT_EQ(a.links.ends, std::vector<std::uint8_t>{kLink});
}

} // namespace
} // namespace vandry::testing
