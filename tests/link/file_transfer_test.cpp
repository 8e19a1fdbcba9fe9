// Whole transfers between copies in one process, over in-memory byte streams.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <set>

#include "link_test_support.h"
#include "memory_stream_network.h"
#include "scratch_folder.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

constexpr Ipv4 kRequesterAddress = 0x0A000001;
constexpr Ipv4 kSharerAddress = 0x0A000002;
constexpr Ipv4 kSecondSharerAddress = 0x0A000003;

// The blocks each data answer a side sent carried, over all its connections (or the last one).
std::vector<std::uint32_t> blocksSent(const MemoryNetwork& network, Ipv4 address, bool lastConnectionOnly = false)
{
    auto connections = network.sentFrom(address);
    if (lastConnectionOnly && !connections.empty())
        connections.erase(connections.begin(), connections.end() - 1);
    std::vector<std::uint32_t> blocks;
    for (const auto& sent : connections)
        for (const auto& frame : parseFrames(sent))
            if (frame.header.type == 'E' && frame.header.sub == 1)
                for (std::size_t i = 0; i * 1024 < frame.payload.size(); ++i)
                    blocks.push_back(frame.header.block + static_cast<std::uint32_t>(i));
    return blocks;
}

// The first blocks of the 'E' answers a side sent on its last connection, in order.
std::vector<std::uint32_t> answersOnLastConnection(const MemoryNetwork& network, Ipv4 address)
{
    std::vector<std::uint32_t> blocks;
    for (const auto& frame : parseFrames(network.sentFrom(address).back()))
        if (frame.header.type == 'E' && frame.header.sub == 1)
            blocks.push_back(frame.header.block);
    return blocks;
}

std::size_t framesSent(const MemoryNetwork& network, Ipv4 address, std::uint8_t type, std::uint8_t sub)
{
    std::size_t count = 0;
    for (const auto& sent : network.sentFrom(address))
        for (const auto& frame : parseFrames(sent))
            count += frame.header.type == type && frame.header.sub == sub ? 1 : 0;
    return count;
}

bool sentFrame(const MemoryNetwork& network, Ipv4 address, std::uint8_t type, std::uint8_t sub)
{
    return framesSent(network, address, type, sub) > 0;
}

class FileTransferTest : public ::testing::Test {
protected:
    FileTransferTest()
    {
        sharer = makeCopy(kSharerAddress, 2, "sharer");
        secondSharer = makeCopy(kSecondSharerAddress, 3, "sharer2");
        requester = makeCopy(kRequesterAddress, 1, "requester");
    }
    std::unique_ptr<TestCopy> makeCopy(Ipv4 address, std::uint8_t seed, const std::string& name)
    {
        auto copy = std::make_unique<TestCopy>(std::make_unique<MemorySocketFactory>(network, address), clock, address,
                                               seed, scratch.path() / name);
        const auto root = scratch.path() / (name + "-files");
        std::filesystem::create_directories(root);
        copy->links.setRoots({root.string()});
        EXPECT_TRUE(copy->links.startListening());
        if (address != kRequesterAddress)
            return copy;
        copy->meet(*sharer);
        copy->meet(*secondSharer);
        return copy;
    }
    std::string shared(const TestCopy& copy, const std::string& name, std::size_t size)
    {
        const std::string path = copy.links.roots().shareRoot + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        writeFile(path, pattern(0, size));
        return path;
    }
    std::string local(const std::string& name) const { return requester->links.roots().shareRoot + "/" + name; }
    bool finished(const HostIdentity& task) const { return requester->sink.sawText(task, "结束传输"); }
    // Pumps the network and lets simulated time pass as the copy's held answers fall due, until
    // `done` holds or nothing is left to wait for. The milliseconds that passed.
    std::uint32_t runPaced(TestCopy& copy, const std::function<bool()>& done,
                           const std::function<void(std::uint32_t)>& afterStep = {})
    {
        std::uint32_t elapsed = 0;
        // The network runs dry before `done` holds: time passes for the timers.
        while (!network.pump(done)) {
            std::optional<std::chrono::milliseconds> next;
            for (const auto* timer : copy.loop.timers)
                if (timer->running && (!next || timer->period < *next))
                    next = timer->period;
            if (!next)
                break;
            clock.advanceMs(static_cast<std::uint32_t>(next->count()));
            elapsed += static_cast<std::uint32_t>(next->count());
            copy.loop.tickTimers();
            if (afterStep)
                afterStep(elapsed);
        }
        return elapsed;
    }

    ScratchFolder scratch;
    ManualClock clock;
    MemoryNetwork network;
    std::unique_ptr<TestCopy> sharer, secondSharer, requester;
    HostIdentity task = identityOf(0x40);
};

TEST_F(FileTransferTest, SmallFileTravelsWholeInTheAnswer)
{
    shared(*sharer, "small.bin", 500);
    requester->download(*sharer, "\\small.bin", local("sub/small.bin"), task);
    ASSERT_TRUE(network.pump());
    EXPECT_TRUE(finished(task));
    EXPECT_EQ(readFile(local("sub/small.bin")), pattern(0, 500));
    EXPECT_TRUE(sentFrame(network, kSharerAddress, 'B', 3));
    EXPECT_EQ(requester->linkOf(task), nullptr);
}

TEST_F(FileTransferTest, FilesOfOneBlockAndMoreTravelInBlocks)
{
    for (const std::size_t size : {std::size_t{1024}, std::size_t{300 * 1024 + 123}}) {
        const std::string name = "f" + std::to_string(size);
        shared(*sharer, name, size);
        const HostIdentity fileTask = identityOf(static_cast<std::uint8_t>(size));
        requester->download(*sharer, "\\" + name, local(name), fileTask);
        ASSERT_TRUE(network.pump());
        EXPECT_TRUE(finished(fileTask)) << size;
        EXPECT_EQ(readFile(local(name)), pattern(0, size));
        EXPECT_EQ(requester->resume.load(local(name)).status, ResumeStore::Status::None);
        EXPECT_EQ(requester->linkOf(fileTask), nullptr);
    }
    EXPECT_FALSE(sentFrame(network, kSharerAddress, 'B', 3));
    // The last block ends a transfer without asking the sharer's map once more.
    EXPECT_EQ(framesSent(network, kRequesterAddress, 'D', 0), 2u);
    // The file-opened report names the local file being written.
    const auto opened = std::find_if(requester->sink.events.begin(), requester->sink.events.end(),
                                     [](const RecordedEvent& e) { return e.type == EventType::FileOpened; });
    ASSERT_NE(opened, requester->sink.events.end());
    EXPECT_EQ(opened->event.text, local("f1024"));
    EXPECT_EQ(opened->event.path, "\\f1024");
    EXPECT_EQ(opened->event.source.sizeLow, 1024u);
}

TEST_F(FileTransferTest, TwoSharersFetchDisjointRangesOfOneFile)
{
    const std::size_t size = 16 * 1024 * 1024 + 7;
    shared(*sharer, "both.bin", size);
    shared(*secondSharer, "both.bin", size);
    // Every write takes 20 ms, so the links measure a rate and keep their windows to it.
    network.beforeDelivery = [&] { clock.advanceMs(20); };
    requester->download(*sharer, "\\both.bin", local("both.bin"), task);
    // The second source joins once the first link is under way, as the task scheduler does.
    ASSERT_TRUE(network.pump([&] {
        const auto* entry = requester->entryOf(task);
        return entry && entry->receivedKb >= 8;
    }));
    requester->download(*secondSharer, "\\both.bin", local("both.bin"), task);
    ASSERT_TRUE(network.pump());

    EXPECT_TRUE(finished(task));
    EXPECT_EQ(readFile(local("both.bin")), pattern(0, size));
    const auto first = blocksSent(network, kSharerAddress);
    const auto second = blocksSent(network, kSecondSharerAddress);
    EXPECT_FALSE(first.empty());
    EXPECT_FALSE(second.empty());
    // Ranges are disjoint; only answers on their way when a range was cut overlap, and the blocks
    // past the cut are dropped.
    std::set<std::uint32_t> all(first.begin(), first.end());
    std::size_t twice = 0;
    for (auto block : second)
        twice += all.insert(block).second ? 0 : 1;
    EXPECT_LT(twice, second.size());
    EXPECT_EQ(all.size(), 16385u);
}

TEST_F(FileTransferTest, DownloadResumesAfterACrashFetchingOnlyWhatWasMissing)
{
    const std::size_t size = 3 * 1024 * 1024 + 100;
    const std::uint32_t blocks = 3073;
    shared(*sharer, "big.bin", size);
    requester->download(*sharer, "\\big.bin", local("big.bin"), task);
    ASSERT_TRUE(network.pump([&] {
        const auto* entry = requester->entryOf(task);
        return entry && entry->receivedKb >= 2600;
    }));

    // The process dies: nothing is closed, no trailer is written.
    requester.reset();
    ASSERT_TRUE(network.pump());
    requester = makeCopy(kRequesterAddress, 1, "requester");
    const auto saved = requester->resume.load(local("big.bin"));
    ASSERT_EQ(saved.status, ResumeStore::Status::Found);
    const auto present = saved.record.map.countBlocks();
    EXPECT_GE(present, FileLink::kSaveInterval / 1024);

    const HostIdentity again = identityOf(0x41);
    requester->download(*sharer, "\\big.bin", local("big.bin"), again);
    ASSERT_TRUE(network.pump());
    EXPECT_TRUE(finished(again));
    EXPECT_EQ(readFile(local("big.bin")), pattern(0, size));
    const auto refetched = blocksSent(network, kSharerAddress, true);
    EXPECT_EQ(refetched.size(), blocks - present);
    EXPECT_GE(*std::min_element(refetched.begin(), refetched.end()), saved.record.map.range(0).end);
}

TEST_F(FileTransferTest, SharerServesOnlyFilesInsideItsShare)
{
    const auto outside = scratch.path() / "outside";
    std::filesystem::create_directories(outside);
    writeFile((outside / "secret.bin").string(), pattern(0, 5000));
    std::filesystem::create_symlink(outside / "secret.bin", sharer->links.roots().shareRoot + "/link.bin");
    const std::string inside = shared(*sharer, "inside.bin", 5000);

    const std::vector<std::string> refused = {"\\..\\outside\\secret.bin", (outside / "secret.bin").string(),
                                              "\\link.bin"};
    std::uint8_t seed = 0x50;
    for (const auto& remote : refused) {
        const HostIdentity refusedTask = identityOf(seed++);
        requester->download(*sharer, remote, local("got.bin"), refusedTask);
        ASSERT_TRUE(network.pump());
        const auto events = requester->sink.forTask(refusedTask);
        ASSERT_FALSE(events.empty()) << remote;
        EXPECT_EQ(events.back().type, EventType::PeerFailed) << remote;
        EXPECT_EQ(events.back().event.text, "Permission denied") << remote;
        EXPECT_FALSE(std::filesystem::exists(local("got.bin"))) << remote;
    }
    // A full path is served when it lies inside the share.
    requester->download(*sharer, inside, local("got.bin"), task);
    ASSERT_TRUE(network.pump());
    EXPECT_TRUE(finished(task));
    EXPECT_EQ(readFile(local("got.bin")), pattern(0, 5000));
}

TEST_F(FileTransferTest, RequesterWritesWhereItsUserChoseButNeverThroughDots)
{
    shared(*sharer, "inside.bin", 5000);
    shared(*sharer, "small.bin", 100);
    const auto elsewhere = scratch.path() / "elsewhere";
    std::uint8_t seed = 0x60;
    for (const std::string remote : {"\\inside.bin", "\\small.bin"}) {
        const HostIdentity chosenTask = identityOf(seed++);
        const auto chosen = elsewhere / remote.substr(1);
        requester->download(*sharer, remote, chosen.string(), chosenTask);
        ASSERT_TRUE(network.pump());
        EXPECT_TRUE(finished(chosenTask)) << remote;
        EXPECT_EQ(readFile(chosen.string()).size(), remote == "\\small.bin" ? 100u : 5000u);

        const HostIdentity refusedTask = identityOf(seed++);
        requester->download(*sharer, remote, local("..") + "/x.bin", refusedTask);
        ASSERT_TRUE(network.pump());
        EXPECT_TRUE(requester->sink.sawText(refusedTask, "文件写错误")) << remote;
        EXPECT_EQ(requester->linkOf(refusedTask), nullptr);
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "x.bin"));
    ASSERT_EQ(requester->sink.localFailures.size(), 2u);
    EXPECT_EQ(requester->sink.localFailures[0].second, "Permission denied");
    // The sharer learns of it through an error report.
    EXPECT_TRUE(sentFrame(network, kRequesterAddress, 'I', 0));
}

TEST_F(FileTransferTest, ADownloadNeverReplacesAnotherFileOfTheUsersWithItsName)
{
    std::uint8_t seed = 0x70;
    for (const std::size_t size : {std::size_t{5000}, std::size_t{100}}) {
        const std::string name = "taken" + std::to_string(size) + ".bin";
        shared(*sharer, name, size);
        const auto mine = pattern(7, 3000);
        writeFile(local(name), mine);
        const HostIdentity refusedTask = identityOf(seed++);
        requester->download(*sharer, "\\" + name, local(name), refusedTask);
        ASSERT_TRUE(network.pump());
        EXPECT_TRUE(requester->sink.sawText(refusedTask, "文件写错误")) << size;
        ASSERT_FALSE(requester->sink.localFailures.empty());
        EXPECT_EQ(requester->sink.localFailures.back().second, "本地已有同名的另一个文件");
        EXPECT_EQ(readFile(local(name)), mine) << size;
    }
}

TEST_F(FileTransferTest, SharerPacesItsAnswersToTheUploadLimit)
{
    const std::size_t size = 200 * 1024 + 5;
    shared(*sharer, "paced.bin", size);
    const int limit = 100 * 1024;
    sharer->uploadLimit = limit;
    requester->download(*sharer, "\\paced.bin", local("paced.bin"), task);

    // The burst (a quarter second, but at least one answer of 63 blocks) goes at once; the next
    // answer waits for the sharer's timer.
    ASSERT_TRUE(network.pump());
    EXPECT_FALSE(finished(task));
    EXPECT_EQ(blocksSent(network, kSharerAddress).size(), 63u);

    const std::size_t burst = std::max<std::size_t>(limit / 4, 63 * 1024);
    const std::uint32_t elapsed = runPaced(
        *sharer, [&] { return finished(task); },
        [&](std::uint32_t ms) {
            const std::size_t answered = blocksSent(network, kSharerAddress, true).size() * 1024;
            EXPECT_LE(answered, burst + std::size_t{ms} * limit / 1000) << "at " << ms << " ms";
        });
    EXPECT_TRUE(finished(task));
    EXPECT_EQ(readFile(local("paced.bin")), pattern(0, size));
    // 201 blocks at 100 KiB/s, less the burst.
    EXPECT_EQ(elapsed, (201 * 1024 - burst) * 1000 / limit);
}

TEST_F(FileTransferTest, AnAnswerHeldWhenTheLinkResetsIsDropped)
{
    const std::size_t size = 100 * 1024;
    shared(*sharer, "held.bin", size);
    sharer->uploadLimit = 20 * 1024;
    requester->download(*sharer, "\\held.bin", local("held.bin"), task);
    ASSERT_TRUE(network.pump());
    FileLink& serving = sharer->links.link(LinkIndex{1});
    ASSERT_EQ(serving.phase(), LinkPhase::Serving);
    ASSERT_FALSE(answersOnLastConnection(network, kSharerAddress).empty());

    // The requester goes away while the sharer holds an answer.
    requester->links.resetAllLinks();
    ASSERT_TRUE(network.pump());
    EXPECT_EQ(serving.phase(), LinkPhase::Idle);

    // A new conversation takes the same link; a late timer tick must not answer into it.
    const HostIdentity again = identityOf(0x43);
    requester->download(*sharer, "\\held.bin", local("held2.bin"), again);
    ASSERT_TRUE(network.pump([&] { return serving.phase() == LinkPhase::Greeted; }));
    clock.advanceSeconds(1);
    for (auto* timer : sharer->loop.timers)
        if (timer->tick && timer->period != FileLink::kRequestDeadline)
            timer->tick();
    runPaced(*sharer, [&] { return finished(again); });
    EXPECT_TRUE(finished(again));
    EXPECT_EQ(readFile(local("held2.bin")), pattern(0, size));
    const auto answers = answersOnLastConnection(network, kSharerAddress);
    ASSERT_EQ(answers.size(), 2u);
    for (std::size_t i = 0; i < answers.size(); ++i)
        EXPECT_EQ(answers[i], 63 * i);
}

} // namespace

class FolderDownloadTest : public FileTransferTest {
protected:
    // The sharer's tree below "album": files of every size class, an empty file, nested folders.
    void shareTree()
    {
        for (const auto& [name, size] : kTree)
            shared(*sharer, name, size);
    }
    void downloadFolder(const std::string& remote, const std::string& localFolder)
    {
        LinkRequest request;
        request.peer = requester->peerInfoOf(*sharer);
        request.request.directory = 1;
        request.request.remotePath = remote;
        request.request.localPath = localFolder;
        request.taskId = task;
        requester->links.openLink(request);
    }
    std::size_t connectionsSoFar() const { return network.sentFrom(kRequesterAddress).size(); }
    // The remote paths of the files the requester asked for on the connections it opened from
    // `firstConnection` on, one list per connection.
    std::vector<std::vector<std::string>> filesAskedPerLink(std::size_t firstConnection) const
    {
        std::vector<std::vector<std::string>> asked;
        const auto connections = network.sentFrom(kRequesterAddress);
        for (std::size_t i = firstConnection; i < connections.size(); ++i) {
            asked.emplace_back();
            for (const auto& frame : parseFrames(connections[i])) {
                if (frame.header.type == 'B' && frame.header.sub == 0) {
                    ByteReader in(frame.payload);
                    asked.back().push_back(parseTaskRecord(in)->remotePath);
                }
            }
        }
        return asked;
    }
    std::vector<std::string> filesAskedFor(std::size_t firstConnection) const
    {
        std::vector<std::string> all;
        for (const auto& link : filesAskedPerLink(firstConnection))
            all.insert(all.end(), link.begin(), link.end());
        std::sort(all.begin(), all.end());
        return all;
    }
    static inline const std::vector<std::pair<std::string, std::size_t>> kTree = {
        {"album/a.bin", 500},       {"album/b.bin", 300 * 1024 + 7}, {"album/cd1/c.bin", 5000},
        {"album/cd1/empty.bin", 0}, {"album/cd1/deep/d.bin", 1024},  {"other.bin", 2000},
    };
};

TEST_F(FolderDownloadTest, TheWholeTreeArrivesOnceAndFilesAlreadyHereAreNotFetchedAgain)
{
    shareTree();
    downloadFolder("\\album\\", local("album/"));
    ASSERT_TRUE(network.pump());
    for (const auto& [name, size] : kTree) {
        if (name.starts_with("album/")) {
            EXPECT_EQ(readFile(local(name)), pattern(0, size)) << name;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(local("other.bin")));
    EXPECT_LE(connectionsSoFar(), static_cast<std::size_t>(FileLink::kFolderFileLinks));
    EXPECT_EQ(filesAskedFor(0), (std::vector<std::string>{"\\album\\a.bin", "\\album\\b.bin", "\\album\\cd1\\c.bin",
                                                          "\\album\\cd1\\deep\\d.bin"}));
    int done = 0;
    EXPECT_EQ(requester->listings.progress(task, &done), 100);
    EXPECT_EQ(done, 4);
    EXPECT_EQ(requester->linkOf(task), nullptr);

    // A second walk of the same task is refused within 20 s; later it fetches only what is missing.
    std::filesystem::remove(local("album/cd1/c.bin"));
    std::size_t since = connectionsSoFar();
    downloadFolder("\\album\\", local("album/"));
    ASSERT_TRUE(network.pump());
    EXPECT_TRUE(filesAskedFor(since).empty());
    EXPECT_FALSE(std::filesystem::exists(local("album/cd1/c.bin")));
    clock.advanceSeconds(21);
    since = connectionsSoFar();
    downloadFolder("\\album\\", local("album/"));
    ASSERT_TRUE(network.pump());
    EXPECT_EQ(filesAskedFor(since), std::vector<std::string>{"\\album\\cd1\\c.bin"});
    EXPECT_EQ(readFile(local("album/cd1/c.bin")), pattern(0, 5000));
}

// Each file request goes out with the requester's map behind it; a file gone from the share
// after the walk is refused, and the sharer lets the map that came along pass, so the link goes
// on with the next files.
TEST_F(FolderDownloadTest, MapsGoAlongWithRequestsAndAFileGoneSinceTheWalkEndsOnlyThatFile)
{
    constexpr int kFiles = 40;
    for (int i = 0; i < kFiles; ++i)
        shared(*sharer, "album/f" + std::to_string(i), 3000 + i);
    downloadFolder("\\album\\", local("album/"));
    ASSERT_TRUE(network.pump([&] {
        int total = 0;
        requester->listings.progress(task, nullptr, &total);
        return total == kFiles;
    }));
    // The walking link asks for the first listed file first.
    std::string gone;
    forEachListingRecord(requester->listings.buffer(task), [&](std::size_t, const ListingRecord& record) {
        gone = record.isHeader() ? gone : record.name;
        return gone.empty();
    });
    std::filesystem::remove(sharer->links.roots().shareRoot + "/album/" + gone);
    ASSERT_TRUE(network.pump());

    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i);
        if (name != gone) {
            EXPECT_EQ(readFile(local("album/" + name)), pattern(0, 3000 + i)) << name;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(local("album/" + gone)));
    const auto perLink = filesAskedPerLink(0);
    ASSERT_FALSE(perLink.empty());
    ASSERT_FALSE(perLink[0].empty());
    EXPECT_EQ(perLink[0].front(), "\\album\\" + gone);
    EXPECT_GT(perLink[0].size(), 1u);
    for (const auto& sent : network.sentFrom(kRequesterAddress)) {
        const auto frames = parseFrames(sent);
        for (std::size_t i = 0; i < frames.size(); ++i)
            if (frames[i].header.type == 'B' && frames[i].header.sub == 0) {
                ASSERT_LT(i + 1, frames.size());
                EXPECT_TRUE(frames[i + 1].header.type == 'D' && frames[i + 1].header.sub == 0);
            }
    }
}

// Once a file's last blocks are asked for, the next small files are asked for behind them with
// their blocks, before those arrive: a link never waits between files. A file the sharer refuses
// or sends whole by then ends only itself; nothing is asked twice and no link starts over.
TEST_F(FolderDownloadTest, TheNextFilesAreAskedForWithTheirBlocksBeforeTheCurrentOnesArrive)
{
    constexpr int kFiles = 40;
    const auto name = [](int i) { return "album/f" + std::string(i < 10 ? "0" : "") + std::to_string(i); };
    for (int i = 0; i < kFiles; ++i)
        shared(*sharer, name(i), 3000 + i);
    downloadFolder("\\album\\", local("album/"));
    // Stopped as soon as the first block request has gone out, its answer still on the way.
    ASSERT_TRUE(network.pump([&] { return sentFrame(network, kRequesterAddress, 'E', 0); }));
    const auto frames = parseFrames(network.sentFrom(kRequesterAddress).front());
    const auto is = [&](std::size_t i, std::uint8_t type, std::uint8_t sub) {
        return i < frames.size() && frames[i].header.type == type && frames[i].header.sub == sub;
    };
    std::size_t at = 0;
    while (at < frames.size() && !is(at, 'E', 0))
        ++at;
    int askedWithBlocks = 0;
    for (; at < frames.size(); ++at)
        askedWithBlocks += is(at, 'B', 0) && is(at + 1, 'D', 0) && is(at + 2, 'E', 0) ? 1 : 0;
    EXPECT_GE(askedWithBlocks, 2);

    // Listed last, these are asked for later: one is gone, one now travels whole.
    const std::string sharerRoot = sharer->links.roots().shareRoot + "/";
    std::filesystem::remove(sharerRoot + name(kFiles - 1));
    writeFile(sharerRoot + name(kFiles - 2), pattern(0, 500));
    ASSERT_TRUE(network.pump());
    for (int i = 0; i < kFiles - 2; ++i)
        EXPECT_EQ(readFile(local(name(i))), pattern(0, 3000 + i)) << i;
    EXPECT_EQ(readFile(local(name(kFiles - 2))), pattern(0, 500));
    EXPECT_FALSE(std::filesystem::exists(local(name(kFiles - 1))));
    const auto asked = filesAskedFor(0);
    EXPECT_EQ(asked.size(), static_cast<std::size_t>(kFiles));
    EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()).size(), asked.size());
    EXPECT_LE(connectionsSoFar(), static_cast<std::size_t>(FileLink::kFolderFileLinks));
}

// A sharer whose map answer makes no sense ends the file's transfer; the file is not taken for
// done, and the task does not finish without it.
TEST_F(FolderDownloadTest, AFileWhoseSharerSendsAMapThatMakesNoSenseIsNotCountedDone)
{
    shared(*sharer, "album/only.bin", 3000);
    network.onWrite = [](Ipv4 from, std::vector<std::uint8_t>& bytes) {
        if (from == kSharerAddress && bytes.size() >= FrameHeader::kSize + 8 &&
            bytes[FrameHeader::kTypeOffset] == 'D' && bytes[FrameHeader::kSubOffset] == 1) {
            bytes[FrameHeader::kSize] = 5; // a range that starts after it ends
            bytes[FrameHeader::kSize + 4] = 1;
        }
    };
    downloadFolder("\\album\\", local("album/"));
    ASSERT_TRUE(network.pump());
    int done = -1;
    EXPECT_EQ(requester->listings.progress(task, &done), 0);
    EXPECT_EQ(done, 0);
    EXPECT_FALSE(std::filesystem::exists(local("album/only.bin")));
}

TEST_F(FolderDownloadTest, NamesThatCannotBeLocalAreRefusedAndReportedAndTheRestArrives)
{
    shared(*sharer, "album/good.bin", 3000);
    shared(*sharer, "album/back\\slash.bin", 100);
    shared(*sharer, "album/bad\xff.bin", 100);
    shared(*sharer, "album/sub\\dir/inside.bin", 100);
    downloadFolder("\\album\\", local("album/"));
    ASSERT_TRUE(network.pump());
    EXPECT_EQ(readFile(local("album/good.bin")), pattern(0, 3000));
    EXPECT_EQ(filesAskedFor(0), std::vector<std::string>{"\\album\\good.bin"});
    int refused = 0;
    for (const auto& recorded : requester->sink.events)
        refused += recorded.event.text.starts_with("拒绝不安全的名称") ? 1 : 0;
    EXPECT_GE(refused, 2);
    // Nothing landed beside the task's folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(local("album")), {}), 1);
}

TEST_F(FolderDownloadTest, AFolderTooLargeForOneListingArrivesInPartsAndItsFilesOnSeveralLinks)
{
    const std::string longName(200, 'n');
    for (int i = 0; i < 300; ++i)
        shared(*sharer, "big/" + longName + std::to_string(i), 100 + i);
    downloadFolder("\\big\\", local("big/"));
    ASSERT_TRUE(network.pump());
    const auto asked = filesAskedFor(0);
    EXPECT_EQ(asked.size(), 300u);
    EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()).size(), 300u);
    std::size_t linksUsed = 0;
    for (const auto& link : filesAskedPerLink(0))
        linksUsed += link.empty() ? 0 : 1;
    EXPECT_EQ(linksUsed, static_cast<std::size_t>(FileLink::kFolderFileLinks));
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(readFile(local("big/" + longName + std::to_string(i))), pattern(0, 100 + i)) << i;
    int done = 0;
    EXPECT_EQ(requester->listings.progress(task, &done), 100);
    EXPECT_EQ(done, 300);
    EXPECT_EQ(requester->linkOf(task), nullptr);
}
