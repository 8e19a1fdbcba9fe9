#include <gtest/gtest.h>

#include "link_socket_fakes.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

constexpr Endpoint kPeer{0x0A000002, 1552};
constexpr LinkIndex kIndex{7};

class LinkSocketTest : public ::testing::Test {
protected:
    FakeStreamSocket& connect()
    {
        link.openTcp(kPeer);
        FakeStreamSocket& socket = *sockets.created.back();
        socket.handlers.connected();
        return socket;
    }
    FakeStreamSocket& accept()
    {
        auto owned = std::make_unique<FakeStreamSocket>();
        FakeStreamSocket& socket = *owned;
        link.acceptTcp(std::move(owned));
        return socket;
    }
    // Writes a payload into the send buffer and sends it as a frame.
    int send(std::uint8_t type, std::uint8_t sub, const Bytes& payload)
    {
        std::copy(payload.begin(), payload.end(), link.sendPayload().begin());
        return link.sendFrame(payload.size(), type, sub);
    }
    // Answers every frame by sending it back as it stands, as the block exchange does.
    void echoFrames()
    {
        link.answer = [this](MutableByteSpan frame) { EXPECT_EQ(link.sendRaw(frame), int(frame.size())); };
    }

    ManualClock clock;
    FakeSocketFactory sockets;
    FakeDatagramTransport datagrams;
    RecordingLink link{kIndex, {sockets, datagrams, clock}};
};

TEST_F(LinkSocketTest, TwoFramesInOneReadAreHandledInOrder)
{
    auto& socket = accept();
    const Bytes first = frame('A', 5, 0), second = frame('E', 1, 4096, 9);
    socket.arrive(concat({first, second}));
    ASSERT_EQ(link.frames.size(), 2u);
    EXPECT_EQ(link.frames[0], first);
    EXPECT_EQ(link.frames[1], second);
    EXPECT_EQ(link.received(), 0u);
}

TEST_F(LinkSocketTest, SplitFrameIsHandledOnceItsLastByteArrives)
{
    auto& socket = accept();
    const Bytes whole = frame('B', 0, 584, 3);
    for (std::size_t i = 0; i + 1 < whole.size(); ++i)
        socket.arrive(ByteSpan(whole).subspan(i, 1));
    EXPECT_TRUE(link.frames.empty());
    socket.arrive(ByteSpan(whole).last(1));
    ASSERT_EQ(link.frames.size(), 1u);
    EXPECT_EQ(link.frames[0], whole);
}

TEST_F(LinkSocketTest, FramesAreLookedAtOnlyWithMoreThanEightBytesBuffered)
{
    auto& socket = accept();
    Bytes tiny = frame('A', 0, 0);
    storeU16le(tiny, 0, 8);
    tiny.resize(8);
    socket.arrive(tiny);
    EXPECT_TRUE(link.frames.empty());
    EXPECT_TRUE(link.refused.empty());
    EXPECT_EQ(link.received(), 8u);
    // A ninth byte makes it look complete; shorter than a header, it is refused, never handed on.
    socket.arrive(Bytes{0});
    EXPECT_TRUE(link.frames.empty());
    EXPECT_EQ(link.refused.size(), 1u);
}

TEST_F(LinkSocketTest, ZeroLengthStopsProcessingOfTheBufferedBytes)
{
    auto& socket = accept();
    Bytes stuck = frame('A', 5, 0);
    storeU16le(stuck, 0, 0);
    socket.arrive(concat({frame('A', 5, 0), stuck, frame('A', 5, 0)}));
    EXPECT_EQ(link.frames.size(), 1u);
    socket.arrive(frame('A', 5, 0));
    EXPECT_EQ(link.frames.size(), 1u);
    EXPECT_EQ(link.received(), 36u);
    EXPECT_TRUE(link.inUse());
}

TEST_F(LinkSocketTest, FramesBreakingTheSizeTableAreRefusedNotHandled)
{
    const Bytes offenders[] = {frame('A', 0, 91), frame('B', 1, 585), frame('D', 0, 6), frame('E', 1, 64513),
                               frame('I', 0, 93), frame('F', 0, 0),   frame('@', 0, 0)};
    for (const auto& offender : offenders) {
        auto& socket = accept();
        socket.arrive(concat({offender, frame('A', 5, 0)}));
        EXPECT_EQ(link.refused.back(), std::make_pair(offender[2], offender[3]));
        // The refusal reset the link: what followed went with it.
        EXPECT_EQ(link.received(), 0u);
    }
    EXPECT_EQ(link.refused.size(), std::size(offenders));
    EXPECT_TRUE(link.frames.empty());
}

TEST_F(LinkSocketTest, HandledFramesAndResetsMarkTheActivityTime)
{
    const auto start = clock.nowSeconds();
    auto& socket = accept();
    clock.advanceSeconds(50);
    const Bytes ack = frame('A', 5, 0);
    socket.arrive(ByteSpan(ack).first(6));
    EXPECT_EQ(link.lastActivity(), start);
    socket.arrive(ByteSpan(ack).subspan(6));
    EXPECT_EQ(link.lastActivity(), start + 50);
    clock.advanceSeconds(10);
    link.reset();
    EXPECT_EQ(link.lastActivity(), start + 60);
}

TEST_F(LinkSocketTest, ResetDropsBytesOfTheEndedConversation)
{
    auto& first = accept();
    const Bytes hello = frame('A', 0, 92);
    first.arrive(ByteSpan(hello).first(50));
    link.reset();
    EXPECT_EQ(link.received(), 0u);
    EXPECT_TRUE(first.closed);
    EXPECT_FALSE(link.inUse());
    accept().arrive(hello);
    ASSERT_EQ(link.frames.size(), 1u);
    EXPECT_EQ(link.frames[0], hello);
}

TEST_F(LinkSocketTest, HandlerResetDropsTheFramesBehindAndTheNextConversationStartsClean)
{
    auto& socket = accept();
    link.answer = [this](MutableByteSpan) { link.reset(); };
    socket.arrive(concat({frame('A', 5, 0), frame('A', 5, 0)}));
    EXPECT_EQ(link.frames.size(), 1u);
    // The closed connection is no longer heard.
    socket.arrive(frame('A', 5, 0));
    socket.handlers.closed();
    EXPECT_EQ(link.frames.size(), 1u);
    EXPECT_TRUE(link.failures.empty());
}

TEST_F(LinkSocketTest, AConversationStartedInsideAHandlerKeepsItsOwnBytes)
{
    auto& first = accept();
    auto next = std::make_unique<FakeStreamSocket>();
    const Bytes waiting = frame('A', 0, 92, 5);
    next->incoming.assign(waiting.begin(), waiting.end());
    link.answer = [this, &next](MutableByteSpan) {
        if (next)
            link.acceptTcp(std::move(next));
    };
    first.arrive(concat({frame('A', 5, 0), frame('A', 5, 0)}));
    ASSERT_EQ(link.frames.size(), 2u);
    EXPECT_EQ(link.frames[1], waiting);
    EXPECT_EQ(link.received(), 0u);
}

TEST_F(LinkSocketTest, ConnectOutcomesReachTheLink)
{
    link.openTcp(kPeer);
    auto& refused = *sockets.created.back();
    EXPECT_EQ(refused.connectedTo, kPeer);
    EXPECT_TRUE(link.inUse());
    refused.handlers.closed();
    ASSERT_EQ(link.failures.size(), 1u);
    EXPECT_EQ(link.failures[0].text, "连接对端失败");
    EXPECT_EQ(link.failures[0].code, 0x20);
    EXPECT_EQ(link.failures[0].type, EventType::ConnectFailed);
    EXPECT_FALSE(link.inUse());
    EXPECT_EQ(link.connects, 0);

    auto& socket = connect();
    EXPECT_EQ(link.connects, 1);
    socket.handlers.closed();
    ASSERT_EQ(link.failures.size(), 2u);
    EXPECT_EQ(link.failures[1].text, "网络断开");
    EXPECT_EQ(link.failures[1].type, EventType::NetworkLost);
}

TEST_F(LinkSocketTest, FramesThatArrivedBeforeTheCloseAreHandledFirst)
{
    auto& socket = connect();
    const Bytes last = frame('I', 0, 92);
    socket.incoming.assign(last.begin(), last.end());
    socket.broken = true;
    socket.handlers.closed();
    ASSERT_EQ(link.frames.size(), 1u);
    EXPECT_EQ(link.failures.size(), 1u);
}

TEST_F(LinkSocketTest, SendFrameFillsOffsetsZeroToSixAndKeepsSevenToEleven)
{
    auto& socket = connect();
    auto buffer = link.sendBuffer();
    for (std::size_t i = 0; i < FrameHeader::kSize; ++i)
        buffer[i] = static_cast<std::uint8_t>(0xA0 + i);
    EXPECT_EQ(link.sendFrame(0, 'A', 5), 12);
    EXPECT_EQ(socket.written, (Bytes{12, 0, 'A', 5, 0, 0, 0, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB}));
}

TEST_F(LinkSocketTest, ShortWritesSendExactlyTheRestOnce)
{
    auto& socket = connect();
    socket.writeBudget = 5;
    const Bytes payload = frame('E', 1, 4096, 1);
    const Bytes sent(payload.begin() + 12, payload.end());
    EXPECT_EQ(send('E', 1, sent), 4108);
    EXPECT_EQ(socket.written.size(), 5u);
    EXPECT_TRUE(link.hasUnsentBytes());
    socket.drain(0);
    socket.drain(1000);
    EXPECT_EQ(socket.written.size(), 1005u);
    socket.drain(SIZE_MAX);
    EXPECT_EQ(socket.written, payload);
    EXPECT_FALSE(link.hasUnsentBytes());
    const int calls = socket.writeCalls;
    socket.drain(SIZE_MAX);
    EXPECT_EQ(socket.writeCalls, calls);
    EXPECT_EQ(socket.written, payload);
}

TEST_F(LinkSocketTest, FramesSentBehindUnsentBytesQueueInOrder)
{
    auto& socket = connect();
    socket.writeBudget = 3;
    const Bytes first = frame('C', 1, 300, 1), second = frame('C', 3, 40, 2);
    send('C', 1, Bytes(first.begin() + 12, first.end()));
    // The send buffer is free again at once: the next frame overwrites it.
    send('C', 3, Bytes(second.begin() + 12, second.end()));
    socket.drain(100);
    socket.drain(SIZE_MAX);
    EXPECT_EQ(socket.written, concat({first, second}));
}

TEST_F(LinkSocketTest, ReceivedFramesWaitWhileAnAnswerIsUnsent)
{
    auto& socket = accept();
    echoFrames();
    socket.writeBudget = 10;
    const Bytes request = frame('E', 0, 0), other = frame('D', 0, 8, 4);
    socket.arrive(concat({request, other}));
    EXPECT_EQ(link.frames.size(), 1u);
    socket.drain(1);
    EXPECT_EQ(link.frames.size(), 1u);
    socket.drain(SIZE_MAX);
    EXPECT_EQ(link.frames.size(), 2u);
    EXPECT_EQ(socket.written, concat({request, other}));
}

TEST_F(LinkSocketTest, ARewrittenFrameGoesBackWithSendRaw)
{
    auto& socket = accept();
    link.answer = [this](MutableByteSpan frame) {
        FrameHeader header = *parseFrameHeader(frame);
        header.type = kFrameBlockMap;
        header.sub = kSubMapAnswer;
        header.length = 16;
        header.tag = 0x1234;
        storeFrameHeader(frame, header);
        link.sendRaw(frame);
    };
    socket.arrive(frame('D', 0, 8, 1));
    EXPECT_EQ(socket.written, (Bytes{16, 0, 'D', 1, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}));
}

TEST_F(LinkSocketTest, AnUnsentQueueThatWouldOverflowFailsTheLink)
{
    auto& socket = connect();
    socket.writeBudget = 0;
    EXPECT_EQ(link.sendFrame(kMaxFramePayload, 'C', 5), 65535);
    EXPECT_EQ(link.sendFrame(kMaxFramePayload, 'C', 5), 65535);
    EXPECT_TRUE(link.failures.empty());
    EXPECT_EQ(link.sendFrame(0, 'A', 5), -1);
    ASSERT_EQ(link.failures.size(), 1u);
    EXPECT_EQ(link.failures[0].type, EventType::NetworkLost);
    EXPECT_FALSE(link.hasUnsentBytes());
}

TEST_F(LinkSocketTest, NothingIsSentWithoutAConnection)
{
    EXPECT_EQ(link.sendFrame(0, 'A', 5), -1);
    auto& socket = connect();
    socket.broken = true;
    EXPECT_EQ(link.sendFrame(0, 'A', 5), -1);
    EXPECT_EQ(link.sendRaw(Bytes{13, 0, 'A', 5, 0, 0, 0, 0, 0, 0, 0, 0}), -1); // length beyond the bytes
}

TEST_F(LinkSocketTest, SendingAFrameThatBreaksItsSizeRuleIsAProgrammingError)
{
    connect();
    EXPECT_DEBUG_DEATH(link.sendFrame(91, 'A', 0), "payloadAllowed");
    EXPECT_DEBUG_DEATH(link.sendFrame(0, 'G', 0), "payloadAllowed");
}

class LinkSocketDatagramTest : public LinkSocketTest {
protected:
    LinkSocketDatagramTest() { link.useDatagramTransport(); }
};

TEST_F(LinkSocketDatagramTest, FramesQueueThroughTheTransportInFull)
{
    EXPECT_EQ(link.transport(), LinkTransport::Datagram);
    EXPECT_TRUE(link.inUse());
    EXPECT_EQ(send('E', 1, Bytes(4096, 7)), 4108);
    ASSERT_EQ(datagrams.queued.size(), 1u);
    EXPECT_EQ(datagrams.queued[0].first, kIndex);
    Bytes expected = frame('E', 1, 4096);
    std::fill(expected.begin() + 12, expected.end(), 7);
    EXPECT_EQ(datagrams.queued[0].second, expected);
}

TEST_F(LinkSocketDatagramTest, AFrameThatDoesNotFitWaitsForRoomAndHoldsBackReceivedFrames)
{
    datagrams.room = 3000;
    EXPECT_EQ(send('E', 1, Bytes(4096, 7)), 4108); // taken whole: the rest waits in the link
    link.deliver(frame('A', 5, 0));
    EXPECT_TRUE(link.frames.empty()); // no answer may overtake the waiting bytes
    datagrams.room = 1000;
    link.datagramWritable();
    EXPECT_TRUE(link.frames.empty());
    datagrams.room = 100000;
    link.datagramWritable();
    Bytes sent;
    for (const auto& [index, bytes] : datagrams.queued)
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    Bytes expected = frame('E', 1, 4096);
    std::fill(expected.begin() + 12, expected.end(), 7);
    EXPECT_EQ(sent, expected); // nothing dropped, cut or repeated
    EXPECT_EQ(link.frames.size(), 1u);
    EXPECT_TRUE(link.failures.empty());
}

TEST_F(LinkSocketDatagramTest, DeliveredBytesAreReassembled)
{
    const Bytes first = frame('A', 0, 92, 1), second = frame('I', 0, 92, 2);
    const Bytes both = concat({first, second});
    link.deliver(ByteSpan(both).first(100));
    link.deliver(ByteSpan(both).subspan(100));
    ASSERT_EQ(link.frames.size(), 2u);
    EXPECT_EQ(link.frames[1], second);
}

TEST_F(LinkSocketDatagramTest, BytesBeyondTheReceiveBufferWaitInTheTransport)
{
    const Bytes big = frame('C', 5, kMaxFramePayload), small = frame('A', 0, 92, 3);
    EXPECT_EQ(link.deliver(ByteSpan(big).first(60000)), 60000u);
    // More than the buffer has room for: the big frame is handled on the way, then the rest fits.
    const Bytes rest = concat({Bytes(big.begin() + 60000, big.end()), small});
    EXPECT_EQ(link.deliver(rest), rest.size());
    ASSERT_EQ(link.frames.size(), 2u);
    EXPECT_EQ(link.frames[1], small);

    // While an unsent frame holds frames back, only what fits in the buffer is taken.
    datagrams.room = 0;
    send('E', 1, Bytes(100, 1));
    EXPECT_EQ(link.deliver(big), big.size());
    EXPECT_EQ(link.deliver(small), 0u);
    EXPECT_EQ(link.frames.size(), 2u);
    datagrams.room = 1000;
    link.datagramWritable();
    EXPECT_EQ(link.frames.size(), 3u);
    EXPECT_EQ(datagrams.resumes, 1); // the transport offers the rest now
    EXPECT_TRUE(link.failures.empty());
}

TEST_F(LinkSocketDatagramTest, ConnectAndCloseReportsAndHowTheConnectionEnds)
{
    link.datagramConnected(0);
    EXPECT_EQ(link.connects, 1);
    link.datagramClosed(LinkSocket::kDatagramEndedByTransport);
    ASSERT_EQ(link.failures.size(), 1u);
    EXPECT_EQ(link.failures[0].type, EventType::NetworkLost);
    EXPECT_EQ(link.transport(), LinkTransport::Tcp);
    // The transport ended it already: the peer is not told again.
    EXPECT_EQ(datagrams.ended.back(), std::make_pair(kIndex, false));

    link.useDatagramTransport();
    link.datagramConnected(10060);
    EXPECT_EQ(link.failures.back().type, EventType::ConnectFailed);
    EXPECT_EQ(datagrams.ended.back(), std::make_pair(kIndex, true));
}

TEST_F(LinkSocketDatagramTest, LateCallsAfterTheLinkMovedOnAreIgnored)
{
    link.reset();
    link.datagramClosed(2);
    link.datagramConnected(0);
    link.deliver(frame('A', 5, 0));
    EXPECT_TRUE(link.failures.empty());
    EXPECT_EQ(link.connects, 0);
    EXPECT_TRUE(link.frames.empty());
    EXPECT_EQ(link.sendFrame(0, 'A', 5), -1);
}

} // namespace
