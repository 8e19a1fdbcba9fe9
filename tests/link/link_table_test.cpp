#include <gtest/gtest.h>

#include <set>

#include "link_test_support.h"
#include "scratch_folder.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

constexpr Ipv4 kOwnAddress = 0x0A000001;
constexpr Ipv4 kPeerAddress = 0x0A000002;

class FakeListener final : public StreamListener {
public:
    explicit FakeListener(const std::set<std::uint16_t>& taken) : taken_(taken) {}
    bool listen(std::uint16_t port) override
    {
        port_ = port != 0 ? port : 50123;
        return taken_.count(port_) == 0;
    }
    std::uint16_t localPort() const override { return port_; }
    void setAcceptHandler(AcceptHandler handler) override { accept = std::move(handler); }
    AcceptHandler accept;

private:
    const std::set<std::uint16_t>& taken_;
    std::uint16_t port_ = 0;
};

class FakeSockets final : public SocketFactory {
public:
    std::unique_ptr<DatagramSocket> createDatagramSocket() override { return nullptr; }
    std::unique_ptr<StreamSocket> createStreamSocket() override
    {
        auto socket = std::make_unique<FakeStreamSocket>();
        created.push_back(socket.get());
        return socket;
    }
    std::unique_ptr<StreamListener> createStreamListener() override
    {
        auto listener = std::make_unique<FakeListener>(taken);
        listeners.push_back(listener.get());
        return listener;
    }
    std::vector<FakeStreamSocket*> created;
    std::vector<FakeListener*> listeners;
    std::set<std::uint16_t> taken;
};

// A connection whose fate can be read after the listener has destroyed it.
struct ConnectionLog {
    Bytes written;
    bool closed = false;
};

class ObservedSocket final : public StreamSocket {
public:
    explicit ObservedSocket(std::shared_ptr<ConnectionLog> log) : log_(std::move(log)) {}
    void setHandlers(Handlers) override {}
    void connectTo(Endpoint) override {}
    std::int64_t write(ByteSpan bytes) override
    {
        log_->written.insert(log_->written.end(), bytes.begin(), bytes.end());
        return static_cast<std::int64_t>(bytes.size());
    }
    std::int64_t read(MutableByteSpan) override { return 0; }
    std::int64_t bytesAvailable() const override { return 0; }
    Endpoint peer() const override { return {}; }
    void close() override { log_->closed = true; }

private:
    std::shared_ptr<ConnectionLog> log_;
};

class LinkTableTest : public ::testing::Test {
protected:
    LinkTableTest()
    {
        auto owned = std::make_unique<FakeSockets>();
        sockets = owned.get();
        copy = std::make_unique<TestCopy>(std::move(owned), clock, kOwnAddress, 1, scratch.path() / "state");
        copy->meet(peer);
        // A copy that shares what it downloads serves from the same folder.
        copy->links.setRoots({scratch.path().string()});
    }
    // A connected requester link for `task`.
    FakeStreamSocket& startRequester(const HostIdentity& task)
    {
        copy->download(peer, "\\file.bin", scratch.file("file.bin"), task);
        FakeStreamSocket& socket = *sockets->created.back();
        socket.handlers.connected();
        return socket;
    }
    // ... that has opened its local file for writing, as after the sharer's answer.
    FakeStreamSocket& startWriting(const HostIdentity& task)
    {
        FakeStreamSocket& socket = startRequester(task);
        socket.arrive(frame('A', 5, 0));
        TaskRecord answer;
        answer.info.setDigest("00112233445566778899aabbccddeeff");
        answer.info.describe(100 * 1024); // above the size of files written whole
        socket.arrive(frameWith('B', 1, encodeTaskRecord(answer)));
        return socket;
    }
    FakeStreamSocket& acceptIncoming(Ipv4 from = kPeerAddress)
    {
        auto owned = std::make_unique<FakeStreamSocket>();
        owned->connectedTo = {from, 40000};
        FakeStreamSocket& socket = *owned;
        sockets->listeners.back()->accept(std::move(owned));
        return socket;
    }
    FakeStreamSocket& startServing()
    {
        FakeStreamSocket& socket = acceptIncoming();
        socket.arrive(frameWith('A', 0, encodePeerInfo(copy->peerInfoOf(peer))));
        TaskRecord request;
        request.remotePath = "\\file.bin";
        socket.arrive(frameWith('B', 0, encodeTaskRecord(request)));
        return socket;
    }
    int linksInUse() const
    {
        int count = 0;
        for (std::uint16_t i = 0; i < LinkTable::kLinks; ++i)
            count += copy->links.link(LinkIndex{i}).inUse() ? 1 : 0;
        return count;
    }

    ScratchFolder scratch;
    ManualClock clock;
    FakeSockets* sockets = nullptr;
    std::unique_ptr<TestCopy> copy;
    HostRecord peer = TestCopy::hostRecord(kPeerAddress, 50);
};

TEST_F(LinkTableTest, ListenerFallsBackToAFreePortAndPublishesIt)
{
    sockets->taken.insert(1552);
    ASSERT_TRUE(copy->links.startListening(1552));
    EXPECT_EQ(copy->neighbours.local().host.portTcp, 50123);
}

TEST_F(LinkTableTest, IncomingLinksLeaveSlotsForDownloadsAndEachAddressItsShare)
{
    ASSERT_TRUE(copy->links.startListening());
    for (int i = 0; i < LinkTable::kLinksPerAddress + 2; ++i)
        acceptIncoming(kPeerAddress);
    EXPECT_EQ(linksInUse(), LinkTable::kLinksPerAddress);
    const int incomingAtMost = 127 - static_cast<int>(LinkTable::kSlotsKeptForDownloads);
    for (Ipv4 address = 0x0A000001; address < 0x0A000100 && linksInUse() < incomingAtMost; ++address)
        acceptIncoming(address);
    acceptIncoming(0x0B000001);
    EXPECT_EQ(linksInUse(), incomingAtMost);
    EXPECT_FALSE(copy->links.openIncomingDatagramLink());
    for (std::uint8_t task = 0; linksInUse() < 127; ++task)
        startRequester(identityOf(0x40 + task));
    EXPECT_FALSE(copy->links.link(LinkIndex{0}).inUse());

    // With the table full, a connection is turned away.

    const auto turnedAway = std::make_shared<ConnectionLog>();
    sockets->listeners.back()->accept(std::make_unique<ObservedSocket>(turnedAway));
    EXPECT_EQ(turnedAway->written, Bytes(104, 0));
    EXPECT_FALSE(turnedAway->closed);
    // Closed between one and two periods of 100 ms later, never at once (the idle links'
    // request deadlines are not due yet).
    const auto tickListener = [&] {
        for (auto* timer : copy->loop.timers)
            if (timer->running && timer->period != FileLink::kRequestDeadline)
                timer->tick();
    };
    tickListener();
    EXPECT_FALSE(turnedAway->closed);
    tickListener();
    EXPECT_TRUE(turnedAway->closed);
}

TEST_F(LinkTableTest, AnAcceptedLinkThatAsksForNoFileInTimeIsClosed)
{
    ASSERT_TRUE(copy->links.startListening());
    acceptIncoming();
    FakeStreamSocket& greeted = acceptIncoming(kPeerAddress + 1);
    greeted.arrive(frameWith('A', 0, encodePeerInfo(copy->peerInfoOf(peer))));
    startServing();
    EXPECT_EQ(linksInUse(), 3);
    copy->loop.tickTimers(); // the deadline passes
    EXPECT_EQ(linksInUse(), 1);
}

TEST_F(LinkTableTest, IncomingDatagramConnectionTakesTheFirstFreeLink)
{
    startRequester(identityOf(0x30));
    const auto index = copy->links.openIncomingDatagramLink();
    ASSERT_TRUE(index);
    EXPECT_EQ(*index, LinkIndex{2});
    EXPECT_TRUE(copy->links.slotState(*index).datagram);
    const auto requester = copy->links.slotState(LinkIndex{1});
    EXPECT_TRUE(requester.tcp);
    EXPECT_EQ(requester.peer, (Endpoint{kPeerAddress, 1552}));
}

TEST_F(LinkTableTest, SweepClosesLinksSilentForMoreThan180Seconds)
{
    const HostIdentity old = identityOf(0x31), recent = identityOf(0x32);
    startRequester(old);
    clock.advanceSeconds(100);
    startRequester(recent);
    clock.advanceSeconds(100);
    copy->links.sweepIdleLinks();
    EXPECT_EQ(copy->linkOf(old), nullptr);
    ASSERT_NE(copy->linkOf(recent), nullptr);
    const auto events = copy->sink.forTask(old);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event.text, "网络断开");
    EXPECT_EQ(events[0].type, EventType::NetworkLost);
}

TEST_F(LinkTableTest, CountTaskLinksCountsEveryLinkOfTheTask)
{
    const HostIdentity task = identityOf(0x33);
    EXPECT_EQ(copy->links.countTaskLinks(task), 0);
    startRequester(task);
    EXPECT_EQ(copy->links.countTaskLinks(task), 1);
    startRequester(task);
    startRequester(task);
    EXPECT_EQ(copy->links.countTaskLinks(task), 3);
    EXPECT_EQ(copy->links.countTaskLinks(identityOf(0x34)), 0);
}

TEST_F(LinkTableTest, StoppingATaskSparesLinksServingItsFileUnlessForced)
{
    ASSERT_TRUE(copy->links.startListening());
    const HostIdentity task = identityOf(0x35);
    startWriting(task);
    startServing();
    ASSERT_EQ(linksInUse(), 2);
    ASSERT_EQ(copy->linkOf(task)->stream().slot(), copy->links.link(LinkIndex{2}).stream().slot());

    copy->links.stopTaskLinks(task, false);
    EXPECT_EQ(copy->linkOf(task), nullptr);
    EXPECT_TRUE(copy->links.link(LinkIndex{2}).inUse());
    copy->links.stopTaskLinks(task, true);
    EXPECT_EQ(linksInUse(), 0);
}

TEST_F(LinkTableTest, DuplicateSourceNeedsTwoWritersFetchingFromTheSamePeer)
{
    const HostIdentity task = identityOf(0x36);
    const auto digest = *identityFromHex("00112233445566778899aabbccddeeff");
    startWriting(task);
    EXPECT_FALSE(copy->links.hasDuplicateSourceLink(digest, peer.identity));
    startWriting(task);
    EXPECT_TRUE(copy->links.hasDuplicateSourceLink(digest, peer.identity));
    EXPECT_FALSE(copy->links.hasDuplicateSourceLink(digest, identityOf(0x77)));
    copy->links.resetAllLinks();
    EXPECT_EQ(linksInUse(), 0);
}

} // namespace

TEST_F(LinkTableTest, ATcpConnectNobodyAnswersGivesWayAfterTheDeadlineAndAnAnsweredOneDoesNot)
{
    const HostIdentity hanging = identityOf(0x40);
    copy->download(peer, "\\file.bin", scratch.file("file.bin"), hanging);
    ASSERT_EQ(linksInUse(), 1);
    copy->loop.tickTimers(); // six seconds without an answer to the connection attempt
    EXPECT_EQ(linksInUse(), 0);
    const auto events = copy->sink.forTask(hanging);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, EventType::ConnectFailed); // the task retries over datagrams

    const HostIdentity answered = identityOf(0x41);
    startRequester(answered);
    copy->loop.tickTimers();
    EXPECT_EQ(linksInUse(), 1);
    EXPECT_TRUE(copy->sink.forTask(answered).empty());
}
