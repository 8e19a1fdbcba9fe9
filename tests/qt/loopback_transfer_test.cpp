// Whole transfers between three copies in one process over real TCP connections on 127.0.0.1:
// the Qt sockets and event loop carry the links, two sharers serve one requester.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "common/clock.h"
#include "link_test_support.h"
#include "qt/qt_event_loop.h"
#include "qt/qt_socket_factory.h"
#include "qt_test_main.h"
#include "scratch_folder.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

constexpr Ipv4 kLoopback = 0x7F000001;
constexpr std::size_t kFileSize = 16 * 1024 * 1024 - 300; // the last block is a short one
constexpr std::uint32_t kFileBlocks = (kFileSize + 1023) / 1024;

// What one requester connection received, in order, and where it went.
struct Connection {
    Endpoint destination;
    Bytes received;
};

// Passes everything through to a real socket and keeps a copy of the bytes read.
class RecordingStreamSocket final : public StreamSocket {
public:
    RecordingStreamSocket(std::unique_ptr<StreamSocket> inner, std::shared_ptr<Connection> record)
        : inner_(std::move(inner)), record_(std::move(record))
    {
    }
    void setHandlers(Handlers handlers) override { inner_->setHandlers(std::move(handlers)); }
    void connectTo(Endpoint destination) override
    {
        record_->destination = destination;
        inner_->connectTo(destination);
    }
    std::int64_t write(ByteSpan bytes) override { return inner_->write(bytes); }
    std::int64_t read(MutableByteSpan into) override
    {
        const auto count = inner_->read(into);
        if (count > 0)
            record_->received.insert(record_->received.end(), into.begin(), into.begin() + count);
        return count;
    }
    std::int64_t bytesAvailable() const override { return inner_->bytesAvailable(); }
    Endpoint peer() const override { return inner_->peer(); }
    void close() override { inner_->close(); }

private:
    std::unique_ptr<StreamSocket> inner_;
    std::shared_ptr<Connection> record_;
};

// The requester's sockets: real Qt ones, each outgoing connection recorded in `connections`,
// which outlives the factory (and so a crashed copy).
class RecordingSocketFactory final : public SocketFactory {
public:
    explicit RecordingSocketFactory(std::vector<std::shared_ptr<Connection>>& connections) : connections_(connections)
    {
    }
    std::unique_ptr<DatagramSocket> createDatagramSocket() override { return qt_.createDatagramSocket(); }
    std::unique_ptr<StreamSocket> createStreamSocket() override
    {
        connections_.push_back(std::make_shared<Connection>());
        return std::make_unique<RecordingStreamSocket>(qt_.createStreamSocket(), connections_.back());
    }
    std::unique_ptr<StreamListener> createStreamListener() override { return qt_.createStreamListener(); }

private:
    QtSocketFactory qt_;
    std::vector<std::shared_ptr<Connection>>& connections_;
};

// The data answers of one connection in arrival order: first block and blocks carried.
struct Answer {
    std::uint32_t block = 0;
    std::uint32_t count = 0;
};

std::vector<Answer> answersIn(const Connection& connection)
{
    std::vector<Answer> answers;
    for (const auto& frame : parseFrames(connection.received))
        if (frame.header.type == 'E' && frame.header.sub == 1)
            answers.push_back({frame.header.block, static_cast<std::uint32_t>((frame.payload.size() + 1023) / 1024)});
    return answers;
}

std::vector<std::uint32_t> blocksIn(const Connection& connection)
{
    std::vector<std::uint32_t> blocks;
    for (const auto& answer : answersIn(connection))
        for (std::uint32_t i = 0; i < answer.count; ++i)
            blocks.push_back(answer.block + i);
    return blocks;
}

// A link fetches a range in requests of up to 63 blocks, each at the block after the previous
// one; an answer in flight when another link cut the range runs past its new end. These are the blocks of such last
// answers (an answer not followed by the next four of the same run), and the number of runs.
std::pair<std::set<std::uint32_t>, int> runEnds(const Connection& connection)
{
    const auto answers = answersIn(connection);
    std::set<std::uint32_t> blocks;
    int runs = 0;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        if (i + 1 < answers.size() && answers[i + 1].block == answers[i].block + answers[i].count)
            continue;
        ++runs;
        for (std::uint32_t b = 0; b < answers[i].count; ++b)
            blocks.insert(answers[i].block + b);
    }
    return {blocks, runs};
}

// One running copy on the Qt transports, its state (resume records, event log) in `home`.
class LoopbackCopy {
public:
    LoopbackCopy(std::unique_ptr<SocketFactory> sockets, std::uint8_t seed, const std::filesystem::path& home)
        : sockets_(std::move(sockets)), neighbours(clock, hostRecord(seed)), resume(home / "resume"), streams(resume),
          links({*sockets_, datagrams, connector, clock, loop, neighbours, streams, log, sink,
                 [] { return std::uint32_t{0x5A5A1234}; }, [this] { return uploadLimit; }})
    {
        std::filesystem::create_directories(home);
        log.open(home / "EVT.TXT");
        const auto root = home / "files";
        std::filesystem::create_directories(root);
        links.setRoots({root.string()});
    }

    const HostRecord& host() const { return neighbours.local().host; }
    void meet(const LoopbackCopy& other) { neighbours.merge(std::span(&other.host(), 1), 0); }
    void download(const LoopbackCopy& sharer, const std::string& remotePath, const std::string& localPath,
                  const HostIdentity& task)
    {
        LinkRequest request;
        request.peer.neighbour = neighbours.at(*neighbours.find(sharer.host().identity, false));
        request.request.remotePath = remotePath;
        request.request.localPath = localPath;
        request.taskId = task;
        request.localFile = localPath;
        links.openLink(request);
    }
    const StreamEntry* entryOf(const HostIdentity& task) const
    {
        const auto slot = streams.findByOwner(task);
        return slot ? &streams.at(*slot) : nullptr;
    }
    int linksInUse() const
    {
        int count = 0;
        for (std::size_t i = 1; i < LinkTable::kLinks; ++i)
            count += links.link(LinkIndex{static_cast<std::uint16_t>(i)}).inUse() ? 1 : 0;
        return count;
    }
    bool finished(const HostIdentity& task) const { return sink.sawText(task, "结束传输"); }

    // Reachable on 127.0.0.1: the mapped address equals the LAN one, so chooseAddress takes it.
    static HostRecord hostRecord(std::uint8_t seed)
    {
        HostRecord host;
        host.identity = identityOf(seed);
        host.lanPrimary = kLoopback;
        host.mapAddr = kLoopback;
        host.portUdp = 1552;
        host.mapPort = 1552;
        return host;
    }

private:
    std::unique_ptr<SocketFactory> sockets_;

public:
    SystemClock clock;
    QtEventLoop loop;
    NeighbourTable neighbours;
    ResumeStore resume;
    StreamTable streams;
    EventLog log;
    RecordingSink sink;
    FakeDatagramTransport datagrams;
    NoDatagramConnector connector;
    int uploadLimit = -1; // bytes per second
    LinkTable links;
};

class LoopbackTransferTest : public ::testing::Test {
protected:
    LoopbackTransferTest()
    {
        std::mt19937 random(20240611);
        content.resize(kFileSize);
        for (auto& byte : content)
            byte = static_cast<std::uint8_t>(random());

        sharerA = std::make_unique<LoopbackCopy>(std::make_unique<QtSocketFactory>(), 2, scratch.path() / "sharerA");
        sharerB = std::make_unique<LoopbackCopy>(std::make_unique<QtSocketFactory>(), 3, scratch.path() / "sharerB");
        // Port 0: any free port, published in the copy's own HostRecord.
        EXPECT_TRUE(sharerA->links.startListening(0));
        EXPECT_TRUE(sharerB->links.startListening(0));
        EXPECT_NE(sharerA->host().portTcp, 0);
        EXPECT_NE(sharerB->host().portTcp, 0);
        // Paced as on a real uplink, so that a link's requests in flight cover a part of the file
        // and the second source finds the rest to take.
        sharerA->uploadLimit = sharerB->uploadLimit = 4 * 1024 * 1024;
        writeFile(sharerA->links.roots().shareRoot + "/original.bin", content);
        writeFile(sharerB->links.roots().shareRoot + "/renamed copy.bin", content);
        startRequester(firstRun);
    }

    void startRequester(std::vector<std::shared_ptr<Connection>>& connections)
    {
        requester = std::make_unique<LoopbackCopy>(std::make_unique<RecordingSocketFactory>(connections), 1,
                                                   scratch.path() / "requester");
        requester->meet(*sharerA);
        requester->meet(*sharerB);
    }

    std::string local() const { return requester->links.roots().shareRoot + "/got.bin"; }
    std::uint32_t received(const HostIdentity& task) const
    {
        const auto* entry = requester->entryOf(task);
        return entry ? entry->receivedKb : 0;
    }
    // The connection of `connections` that went to `sharer`.
    static const Connection& to(const std::vector<std::shared_ptr<Connection>>& connections, const LoopbackCopy& sharer)
    {
        for (const auto& connection : connections)
            if (connection->destination == Endpoint{kLoopback, sharer.host().portTcp})
                return *connection;
        static const Connection none;
        ADD_FAILURE() << "no connection to port " << sharer.host().portTcp;
        return none;
    }
    // Starts the download from A, then adds B to the same task once A has delivered some blocks.
    void downloadFromBoth()
    {
        requester->download(*sharerA, "\\original.bin", local(), task);
        ASSERT_TRUE(runUntil([&] { return received(task) >= 256; }));
        ASSERT_LT(received(task), kFileBlocks / 2) << "the first link ran too far ahead to share the file";
        requester->download(*sharerB, "\\renamed copy.bin", local(), task);
    }

    ScratchFolder scratch;
    Bytes content;
    std::vector<std::shared_ptr<Connection>> firstRun;
    std::unique_ptr<LoopbackCopy> sharerA, sharerB, requester;
    HostIdentity task = identityOf(0x40);
};

TEST_F(LoopbackTransferTest, TwoSharersFetchDisjointRangesOfOneFile)
{
    downloadFromBoth();
    ASSERT_TRUE(runUntil([&] { return requester->finished(task); }));

    EXPECT_TRUE(readFile(local()) == content) << "downloaded file differs";
    ASSERT_EQ(firstRun.size(), 2u);
    const auto fromA = blocksIn(to(firstRun, *sharerA));
    const auto fromB = blocksIn(to(firstRun, *sharerB));
    EXPECT_GE(fromA.size(), 256u);
    EXPECT_GE(fromB.size(), kFileBlocks / 8) << "the second sharer barely took part";

    // Both links may fetch a block only at the end of a run (see runEnds), never inside one. Overlapping ranges would
    // show as blocks fetched twice in mid-run.
    const auto [endsA, runsA] = runEnds(to(firstRun, *sharerA));
    const auto [endsB, runsB] = runEnds(to(firstRun, *sharerB));
    std::map<std::uint32_t, int> times;
    for (const auto block : fromA)
        ++times[block];
    for (const auto block : fromB)
        ++times[block];
    int duplicates = 0;
    for (const auto& [block, count] : times) {
        EXPECT_LT(block, kFileBlocks);
        EXPECT_LE(count, 2) << "block " << block;
        if (count > 1) {
            ++duplicates;
            EXPECT_TRUE(endsA.count(block) || endsB.count(block)) << "block " << block << " fetched twice mid-range";
        }
    }
    EXPECT_LE(duplicates, 3 * (runsA + runsB));
    EXPECT_EQ(times.size(), kFileBlocks);
    EXPECT_EQ(requester->resume.load(local()).status, ResumeStore::Status::None);
}

TEST_F(LoopbackTransferTest, DownloadResumesAfterACrashFetchingOnlyWhatWasMissing)
{
    downloadFromBoth();
    // Crash while both links are writing, past the first progress saves.
    const auto blocksFrom = [&](const LoopbackCopy& sharer) {
        for (const auto& connection : firstRun)
            if (connection->destination.port == sharer.host().portTcp)
                return blocksIn(*connection).size();
        return std::size_t{0};
    };
    ASSERT_TRUE(runUntil([&] {
        return received(task) >= kFileBlocks / 2 && blocksFrom(*sharerB) >= 64 && blocksFrom(*sharerA) >= 512;
    }));
    ASSERT_FALSE(requester->finished(task));
    ASSERT_EQ(requester->linksInUse(), 2);

    // The process dies: nothing is closed, no trailer is written.
    requester.reset();
    ASSERT_TRUE(runUntil([&] { return sharerA->linksInUse() == 0 && sharerB->linksInUse() == 0; }));

    std::vector<std::shared_ptr<Connection>> secondRun;
    startRequester(secondRun);
    const auto saved = requester->resume.load(local());
    ASSERT_EQ(saved.status, ResumeStore::Status::Found);
    const auto present = saved.record.map.countBlocks();
    EXPECT_GE(present, FileLink::kSaveInterval / 1024);
    EXPECT_LT(present, kFileBlocks);

    const HostIdentity again = identityOf(0x41);
    requester->download(*sharerB, "\\renamed copy.bin", local(), again);
    ASSERT_TRUE(runUntil([&] { return requester->finished(again); }));
    EXPECT_TRUE(readFile(local()) == content) << "resumed file differs";

    ASSERT_EQ(secondRun.size(), 1u);
    const auto refetched = blocksIn(*secondRun.front());
    std::set<std::uint32_t> fetched(refetched.begin(), refetched.end());
    EXPECT_EQ(fetched.size(), refetched.size()) << "a block was fetched twice after the restart";

    // Exactly the blocks the record lacked are fetched, plus at most the three blocks a four-block
    // request can run past the end of each missing range into blocks already present.
    std::set<std::uint32_t> missing;
    std::set<std::uint32_t> overrun;
    std::uint32_t from = 0;
    for (std::size_t i = 0; i <= saved.record.map.rangeCount(); ++i) {
        const std::uint32_t gapEnd = i < saved.record.map.rangeCount() ? saved.record.map.range(i).start : kFileBlocks;
        for (auto block = from; block < gapEnd; ++block)
            missing.insert(block);
        if (from < gapEnd)
            for (auto block = gapEnd; block < std::min(gapEnd + 3, kFileBlocks); ++block)
                overrun.insert(block);
        if (i < saved.record.map.rangeCount())
            from = saved.record.map.range(i).end;
    }
    EXPECT_EQ(missing.size(), kFileBlocks - present);
    std::size_t extra = 0;
    for (const auto block : fetched) {
        if (missing.count(block))
            continue;
        ++extra;
        EXPECT_TRUE(overrun.count(block)) << "block " << block << " was saved before the crash but fetched again";
    }
    for (const auto block : missing)
        EXPECT_TRUE(fetched.count(block)) << "missing block " << block << " never fetched";
    EXPECT_EQ(fetched.size(), missing.size() + extra);
    EXPECT_LE(extra, 3u * saved.record.map.rangeCount());
}

} // namespace
