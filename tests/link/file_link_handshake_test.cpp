#include <gtest/gtest.h>

#include "link_test_support.h"
#include "scratch_folder.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

constexpr Ipv4 kOwnAddress = 0x0A000001;
constexpr Ipv4 kPeerAddress = 0x0A000002;

class FileLinkHandshakeTest : public ::testing::Test {
protected:
    FileLinkHandshakeTest()
    {
        auto owned = std::make_unique<FakeSocketFactory>();
        sockets = owned.get();
        copy = std::make_unique<TestCopy>(std::move(owned), clock, kOwnAddress, 1, scratch.path());
        peer = TestCopy::hostRecord(kPeerAddress, 50);
        peer.portTcp = 1660; // the TCP port differs from the UDP port on purpose
        copy->meet(peer);
    }
    // A requester link whose connection is up; returns its socket.
    FakeStreamSocket& startRequester(const std::string& remote = "\\a.bin")
    {
        copy->download(peer, remote, (scratch.path() / "a.bin").string(), task);
        FakeStreamSocket& socket = *sockets->created.back();
        socket.handlers.connected();
        return socket;
    }
    FileLink& linkOfTask() { return *copy->linkOf(task); }
    // A sharer link that accepted a connection.
    FakeStreamSocket& acceptOn(FileLink& link)
    {
        auto owned = std::make_unique<FakeStreamSocket>();
        FakeStreamSocket& socket = *owned;
        link.acceptConnection(std::move(owned));
        return socket;
    }

    ScratchFolder scratch;
    ManualClock clock;
    FakeSocketFactory* sockets = nullptr;
    std::unique_ptr<TestCopy> copy;
    HostRecord peer;
    HostIdentity task = identityOf(0x70);
};

TEST_F(FileLinkHandshakeTest, RequesterConnectsToTheTcpPortAndSaysHello)
{
    FakeStreamSocket& socket = startRequester();
    EXPECT_EQ(socket.connectedTo, (Endpoint{kPeerAddress, 1660}));
    const auto frames = parseFrames(socket.written);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].header.type, 'A');
    EXPECT_EQ(frames[0].header.sub, 0);
    // Its own HostRecord, then bytes 60..91 of what it knows of the sharer.
    Bytes expected = encodeHostRecord(copy->host());
    const Bytes known = encodePeerInfo(copy->peerInfoOf(peer));
    expected.insert(expected.end(), known.begin() + 60, known.end());
    EXPECT_EQ(frames[0].payload, expected);
}

TEST_F(FileLinkHandshakeTest, AckBringsTheRequestAndOtherHelloSubsAreIgnored)
{
    FakeStreamSocket& socket = startRequester();
    socket.written.clear();
    socket.arrive(frame('A', 9, 0));
    EXPECT_TRUE(socket.written.empty());
    EXPECT_TRUE(linkOfTask().inUse());

    socket.arrive(frame('A', 5, 0));
    const auto frames = parseFrames(socket.written);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].header.type, 'B');
    EXPECT_EQ(frames[0].header.sub, 0);
    EXPECT_EQ(frames[0].payload, encodeTaskRecord(linkOfTask().request()));
    ASSERT_EQ(copy->sink.events.size(), 1u);
    EXPECT_EQ(copy->sink.events[0].event.text, "准备传输");
    EXPECT_EQ(copy->sink.events[0].event.code, 0x10);
    EXPECT_EQ(copy->sink.events[0].event.taskId, task);
    EXPECT_EQ(copy->sink.events[0].event.peerIdentity, peer.identity);
}

TEST_F(FileLinkHandshakeTest, SharerStoresTheRequesterAndAcknowledges)
{
    FileLink& link = copy->links.link(LinkIndex{9});
    FakeStreamSocket& socket = acceptOn(link);
    const Bytes hello = encodePeerInfo(copy->peerInfoOf(peer));
    socket.arrive(frameWith('A', 0, hello));
    EXPECT_EQ(socket.written, frame('A', 5, 0));
    EXPECT_EQ(link.peer().identity(), peer.identity);
    EXPECT_EQ(link.phase(), LinkPhase::Greeted);
    // A second hello on the same conversation is not part of the exchange.
    socket.arrive(frameWith('A', 0, hello));
    EXPECT_FALSE(link.inUse());
}

TEST_F(FileLinkHandshakeTest, FramesOutsideTheSetResetSilently)
{
    for (const std::uint8_t type : {'F', 'G', 'H', 'C'}) {
        FakeStreamSocket& socket = startRequester();
        socket.arrive(frame('A', 5, 0));
        const auto reports = copy->sink.events.size();
        socket.arrive(frame(type, 0, 0));
        EXPECT_EQ(copy->linkOf(task), nullptr) << type;
        EXPECT_TRUE(socket.closed);
        EXPECT_EQ(copy->sink.events.size(), reports);
    }
}

TEST_F(FileLinkHandshakeTest, ErrorReportEndsTheTransferWithThePeersTextCutAtTheFrameEnd)
{
    FakeStreamSocket& socket = startRequester();
    socket.arrive(frame('A', 5, 0));
    // The report carries only 56 bytes of text, here without a terminating zero.
    Bytes report(92, 0);
    const std::string text(56, 'x');
    std::copy(text.begin(), text.end(), report.begin() + 36);
    socket.arrive(frameWith('I', 0, report));
    const auto& last = copy->sink.events.back();
    EXPECT_EQ(last.type, EventType::PeerFailed);
    EXPECT_EQ(last.event.code, 0x42);
    EXPECT_EQ(last.event.text, text);
    EXPECT_EQ(copy->linkOf(task), nullptr);
    EXPECT_TRUE(socket.closed);
}

TEST_F(FileLinkHandshakeTest, FailedConnectIsReportedAndFreesTheLink)
{
    copy->download(peer, "\\a.bin", (scratch.path() / "a.bin").string(), task);
    sockets->created.back()->handlers.closed();
    ASSERT_EQ(copy->sink.events.size(), 1u);
    EXPECT_EQ(copy->sink.events[0].event.text, "连接对端失败");
    EXPECT_EQ(copy->sink.events[0].type, EventType::ConnectFailed);
    EXPECT_EQ(copy->linkOf(task), nullptr);
}

TEST_F(FileLinkHandshakeTest, DatagramOnlyPeerFailsAtOnceWithoutTheTransport)
{
    // A copy unknown to the table, marked as reachable by datagrams only.
    LinkRequest request;
    request.peer.neighbour.host = TestCopy::hostRecord(0x0A000009, 90);
    request.peer.neighbour.datagramOnly = 1;
    request.taskId = task;
    copy->links.openLink(request);
    EXPECT_TRUE(sockets->created.empty());
    ASSERT_EQ(copy->sink.events.size(), 1u);
    EXPECT_EQ(copy->sink.events[0].type, EventType::ConnectFailed);
    ASSERT_EQ(copy->datagrams.ended.size(), 1u);
    EXPECT_EQ(copy->datagrams.ended[0].first, LinkIndex{1});
}

TEST_F(FileLinkHandshakeTest, SharerLinkWithoutTaskFailsWithoutReport)
{
    FakeStreamSocket& socket = acceptOn(copy->links.link(LinkIndex{3}));
    socket.handlers.closed();
    EXPECT_FALSE(copy->links.link(LinkIndex{3}).inUse());
    EXPECT_TRUE(copy->sink.events.empty());
}

TEST_F(FileLinkHandshakeTest, AFileAnswerTheRequesterDidNotAskForIsRefused)
{
    FakeStreamSocket& socket = acceptOn(copy->links.link(LinkIndex{4}));
    socket.arrive(frameWith('A', 0, encodePeerInfo(copy->peerInfoOf(peer))));
    socket.arrive(frameWith('B', 1, encodeTaskRecord(TaskRecord{})));
    EXPECT_FALSE(copy->links.link(LinkIndex{4}).inUse());
}

} // namespace
