// Data requests in flight: how many a requester keeps asked for, against a sharer that answers in
// order and against one that keeps to the original rule of one request at a time; and how a
// sharer serves an original requester and a pipelining one held back by the upload limit.

#include <gtest/gtest.h>

#include "link/request_window.h"
#include "link_test_support.h"
#include "scratch_folder.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

constexpr Ipv4 kOwnAddress = 0x0A000001;
constexpr Ipv4 kPeerAddress = 0x0A000002;

Bytes mapPayload(std::uint32_t start, std::uint32_t end)
{
    BlockMap map;
    map.addRange(start, end);
    Bytes bytes;
    ByteWriter out(bytes);
    encodeBlockMap(map, out);
    return bytes;
}

Bytes withHeader(Bytes bytes, std::uint8_t reserved, std::uint8_t count, std::uint32_t block)
{
    auto header = *parseFrameHeader(bytes);
    header.reserved = reserved;
    header.count = count;
    header.block = block;
    storeFrameHeader(bytes, header);
    return bytes;
}

// The answer a sharer holding `file` gives to `request`.
Bytes answerTo(const FrameHeader& request, const Bytes& file)
{
    const std::size_t from = std::size_t{request.block} * 1024;
    const std::size_t to = std::min(file.size(), from + std::size_t{request.count} * 1024);
    return withHeader(frameWith('E', 1, Bytes(file.begin() + from, file.begin() + to)), 0, request.count,
                      request.block);
}

// Frames `socket` wrote from `seen` on; `seen` moves past them.
std::vector<ParsedFrame> newFrames(const FakeStreamSocket& socket, std::size_t& seen)
{
    const Bytes rest(socket.written.begin() + static_cast<std::ptrdiff_t>(seen), socket.written.end());
    seen = socket.written.size();
    return parseFrames(rest);
}

class RequestOrderTest : public ::testing::Test {
protected:
    RequestOrderTest()
    {
        auto owned = std::make_unique<FakeSocketFactory>();
        sockets = owned.get();
        copy = std::make_unique<TestCopy>(std::move(owned), clock, kOwnAddress, 1, scratch.path() / "state");
        copy->links.setRoots({scratch.path().string()});
        peer = TestCopy::hostRecord(kPeerAddress, 50);
        copy->meet(peer);
    }
    // A requester whose sharer has described the file; it asks for the sharer's map next.
    FakeStreamSocket& startFetching()
    {
        copy->download(peer, "\\film.bin", local(), task);
        FakeStreamSocket& socket = *sockets->created.back();
        socket.handlers.connected();
        socket.arrive(frameWith('A', 5, {}));
        TaskRecord answer;
        answer.info.setDigest("00112233445566778899aabbccddeeff");
        answer.info.describe(file.size());
        socket.arrive(frameWith('B', 1, encodeTaskRecord(answer)));
        return socket;
    }
    // Answers the requester's map requests with the whole file; returns its data requests.
    std::vector<FrameHeader> nextRequests(FakeStreamSocket& socket, std::size_t& seen, std::uint8_t flags)
    {
        std::vector<FrameHeader> requests;
        for (bool mapAsked = true; mapAsked;) {
            mapAsked = false;
            for (const auto& frame : newFrames(socket, seen)) {
                if (frame.header.type == 'E' && frame.header.sub == 0)
                    requests.push_back(frame.header);
                mapAsked = mapAsked || (frame.header.type == 'D' && frame.header.sub == 0);
            }
            if (mapAsked)
                socket.arrive(withHeader(frameWith('D', 1, mapPayload(0, kBlocks)), flags, 0, 0));
        }
        return requests;
    }
    // A sharer link serving the file to a requester that has sent hello, request and its map.
    FakeStreamSocket& startServing()
    {
        writeFile((scratch.path() / "film.bin").string(), file);
        auto owned = std::make_unique<FakeStreamSocket>();
        FakeStreamSocket& socket = *owned;
        copy->links.link(LinkIndex{3}).acceptConnection(std::move(owned));
        socket.arrive(frameWith('A', 0, encodePeerInfo(copy->peerInfoOf(peer))));
        TaskRecord request;
        request.remotePath = "\\film.bin";
        socket.arrive(frameWith('B', 0, encodeTaskRecord(request)));
        socket.arrive(frameWith('D', 0, mapPayload(0, 0)));
        return socket;
    }
    std::string local() const { return (scratch.path() / "got" / "film.bin").string(); }
    bool finished() const { return copy->sink.sawText(task, "结束传输"); }

    ScratchFolder scratch;
    ManualClock clock;
    FakeSocketFactory* sockets = nullptr;
    std::unique_ptr<TestCopy> copy;
    HostRecord peer;
    HostIdentity task = identityOf(0x70);
    static constexpr std::uint32_t kBlocks = 2049;
    Bytes file = pattern(0, 2 * 1024 * 1024 + 300);
};

TEST_F(RequestOrderTest, AnOriginalSharerGetsOneRequestAtATimeAndTheFileArrivesWhole)
{
    FakeStreamSocket& socket = startFetching();
    std::size_t seen = 0;
    std::uint32_t expected = 0;
    for (;;) {
        const auto requests = nextRequests(socket, seen, 0);
        if (finished())
            break;
        ASSERT_EQ(requests.size(), 1u) << "at block " << expected;
        EXPECT_EQ(requests[0].block, expected);
        EXPECT_EQ(requests[0].count, std::min<std::uint32_t>(63, kBlocks - expected));
        expected += requests[0].count;
        clock.advanceMs(50);
        socket.arrive(answerTo(requests[0], file));
    }
    EXPECT_EQ(readFile(local()), file);
}

TEST_F(RequestOrderTest, ASharerThatAnswersInOrderGetsAWindowThatGrowsWithWhatArrives)
{
    FakeStreamSocket& socket = startFetching();
    std::size_t seen = 0;
    std::deque<FrameHeader> inFlight;
    std::vector<std::size_t> askedPerRound;
    std::uint32_t next = 0;
    // Each round trip of 50 ms answers everything asked in the one before.
    for (;;) {
        const auto requests = nextRequests(socket, seen, kFlagAnswersInOrder);
        if (finished())
            break;
        std::size_t asked = 0;
        for (const auto& request : requests) {
            EXPECT_EQ(request.block, next);
            next += request.count;
            asked += request.count;
            inFlight.push_back(request);
        }
        askedPerRound.push_back(asked);
        ASSERT_FALSE(inFlight.empty());
        clock.advanceMs(50);
        for (auto pending = std::exchange(inFlight, {}); !pending.empty(); pending.pop_front())
            socket.arrive(answerTo(pending.front(), file));
    }
    EXPECT_EQ(readFile(local()), file);
    // The first round asks for the least window, later ones for more as the answers come in.
    ASSERT_GE(askedPerRound.size(), 2u);
    EXPECT_EQ(askedPerRound[0], (RequestWindow::kMinBytes + 63 * 1024 - 1) / (63 * 1024) * 63);
    EXPECT_GT(askedPerRound[1], askedPerRound[0]);
    EXPECT_LT(askedPerRound.size(), kBlocks / 63 / 2);
}

TEST_F(RequestOrderTest, AnOriginalRequesterIsServedRequestByRequest)
{
    FakeStreamSocket& socket = startServing();
    std::size_t seen = 0;
    const auto opening = newFrames(socket, seen);
    ASSERT_EQ(opening.size(), 3u);
    EXPECT_EQ(opening[2].header.type, 'D');
    // The flag sits where an original requester reads nothing.
    EXPECT_EQ(opening[2].header.reserved, kFlagAnswersInOrder);

    // The original requester asks for four blocks at a time and waits for each answer.
    for (std::uint32_t block : {0u, 4u, 2048u}) {
        socket.arrive(withHeader(frameWith('E', 0, {}), 0, 4, block));
        const auto answers = newFrames(socket, seen);
        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0].header.block, block);
        EXPECT_EQ(answers[0].header.count, 4);
        const std::size_t from = std::size_t{block} * 1024;
        EXPECT_EQ(answers[0].payload, Bytes(file.begin() + from, file.begin() + std::min(file.size(), from + 4096)));
    }
}

TEST_F(RequestOrderTest, RequestsBehindAnAnswerTheUploadLimitHoldsAreAnsweredInOrder)
{
    copy->uploadLimit = 63 * 1024;
    FakeStreamSocket& socket = startServing();
    std::size_t seen = 0;
    newFrames(socket, seen);

    Bytes requests;
    for (std::uint32_t block = 0; block < 5 * 63; block += 63) {
        const Bytes one = withHeader(frameWith('E', 0, {}), 0, 63, block);
        requests.insert(requests.end(), one.begin(), one.end());
    }
    socket.arrive(requests);
    std::vector<std::uint32_t> answered;
    for (int second = 0; second < 10 && answered.size() < 5; ++second) {
        for (const auto& frame : newFrames(socket, seen))
            answered.push_back(frame.header.block);
        clock.advanceSeconds(1);
        copy->loop.tickTimers();
    }
    EXPECT_EQ(answered, (std::vector<std::uint32_t>{0, 63, 126, 189, 252}));
}

// The window a link settles on over a path of `rttMs` that carries an answer of 63 blocks every
// `msPerAnswer`.
std::size_t settledWindow(std::uint32_t rttMs, std::uint32_t msPerAnswer)
{
    RequestWindow window;
    window.setSharerAnswersInOrder(true);
    std::deque<std::uint32_t> arrivals;
    std::uint32_t lastArrival = 0;
    std::uint32_t block = 0;
    for (std::uint32_t now = 0; now < 5000; ++now) {
        while (window.hasRoom()) {
            window.sent(block, 63, now);
            block += 63;
            // Answers leave the sharer one after another at the path's rate.
            lastArrival = std::max(lastArrival, now + rttMs) + msPerAnswer;
            arrivals.push_back(lastArrival);
        }
        for (; !arrivals.empty() && arrivals.front() <= now; arrivals.pop_front())
            EXPECT_TRUE(window.answered(63 * 1024, now));
    }
    EXPECT_EQ(window.bytesInFlight(), window.inFlight() * 63 * 1024);
    return window.limitBytes();
}

TEST(RequestWindow, AFastPathGetsTwiceWhatItHoldsAndASlowSharerLittle)
{
    // 40 ms at 32 KB/ms hold 1.3 MB; a quarter second's worth covers a lost request's timeout.
    constexpr double kRate = 63 * 1024 / 2.0;
    const std::size_t fast = settledWindow(40, 2);
    EXPECT_GE(fast, 200 * kRate);
    EXPECT_LE(fast, 300 * kRate);
    EXPECT_EQ(settledWindow(200, 1), RequestWindow::kMaxBytes);
    EXPECT_EQ(settledWindow(40, 1000), RequestWindow::kMinBytes);
}

TEST(RequestWindow, StaleAnswersLeaveTheWindowButTellNothingAboutThePath)
{
    RequestWindow window;
    window.setSharerAnswersInOrder(true);
    constexpr std::uint32_t kRequests = 10;
    for (std::uint32_t i = 0; i < 2 * kRequests; ++i) {
        window.sent(63 * i, 63, 0);
        if (i + 1 == kRequests)
            window.markStale();
    }
    for (std::uint32_t i = 0; i < kRequests; ++i)
        EXPECT_TRUE(window.answered(63 * 1024, 1)->stale);
    EXPECT_EQ(window.limitBytes(), RequestWindow::kMinBytes);
    for (std::uint32_t i = kRequests; i < 2 * kRequests; ++i) {
        const auto fresh = window.answered(63 * 1024, 1);
        ASSERT_TRUE(fresh);
        EXPECT_EQ(fresh->block, 63 * i);
        EXPECT_FALSE(fresh->stale);
    }
    EXPECT_GT(window.limitBytes(), RequestWindow::kMinBytes);
    EXPECT_FALSE(window.answered(1024, 2));
}

// Requests asked ahead for the next files of a folder outlive the current file's range; those of
// a file the sharer refused are never answered and leave the window at once.
TEST(RequestWindow, TheNewestRequestsCanBeKeptFreshAndTheOldestForgotten)
{
    RequestWindow window;
    window.setSharerAnswersInOrder(true);
    for (std::uint32_t i = 0; i < 6; ++i)
        window.sent(10 * i, 10, 0);
    window.markStale(4);
    EXPECT_TRUE(window.nextAnswerIsStale());
    window.forgetOldest(1);
    EXPECT_EQ(window.inFlight(), 5u);
    EXPECT_EQ(window.bytesInFlight(), 5u * 10 * 1024);
    const auto stale = window.answered(10 * 1024, 1);
    ASSERT_TRUE(stale);
    EXPECT_EQ(stale->block, 10u);
    EXPECT_TRUE(stale->stale);
    EXPECT_FALSE(window.nextAnswerIsStale());
    window.markStale(10); // more kept than in flight: nothing is marked
    EXPECT_FALSE(window.nextAnswerIsStale());
    window.forgetOldest(10);
    EXPECT_EQ(window.inFlight(), 0u);
    EXPECT_EQ(window.bytesInFlight(), 0u);
}

TEST(RequestWindow, OneRequestAtATimeUntilTheSharerSaysItAnswersInOrder)
{
    RequestWindow window;
    EXPECT_TRUE(window.hasRoom());
    window.sent(0, 63, 0);
    EXPECT_FALSE(window.hasRoom());
    window.setSharerAnswersInOrder(true);
    EXPECT_TRUE(window.hasRoom());
    window.reset();
    EXPECT_FALSE(window.sharerAnswersInOrder());
    EXPECT_EQ(window.inFlight(), 0u);
}

} // namespace
