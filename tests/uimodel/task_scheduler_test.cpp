#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/hex.h"
#include "fake_copy.h"
#include "fake_window_host.h"
#include "store/listing_record.h"
#include "store/share_hash_table.h"
#include "ui/copy_commands.h"
#include "ui/main_window_model.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
const std::string kDigestHex = "00112233445566778899aabbccddeeff";

HostIdentity identityOf(std::uint8_t first)
{
    HostIdentity id{};
    id[0] = first;
    id[1] = 0x42;
    return id;
}

std::vector<std::uint8_t> sourceReply(const HostRecord& replier, const SourceInfo& key, std::string_view path)
{
    std::vector<std::uint8_t> out;
    ByteWriter w(out);
    w.u16le(104);
    w.u8(2);
    w.u8(0);
    w.u32le(0);
    encodeHostRecord(replier, w);
    encodeSourceInfo(key, w);
    w.bytes(ByteSpan(reinterpret_cast<const std::uint8_t*>(path.data()), path.size()));
    if (!path.empty())
        w.u8(0);
    return out;
}

struct TaskSchedulerTest : ::testing::Test {
    TaskSchedulerTest()
    {
        fake.copy.refreshLocalRecord();
        fake.copy.takeNetworkSnapshot();
        fake.copy.loadSettings();
        for (const auto& [name, first] : {std::pair{"alice", 0xA1}, std::pair{"carol", 0xC3}}) {
            HostRecord neighbour;
            neighbour.identity = identityOf(static_cast<std::uint8_t>(first));
            neighbour.setNickname(name);
            neighbour.portTcp = 1552;
            fake.copy.neighbours().merge(std::vector{neighbour}, 0);
        }
        alice = hostOf(0xA1);
        carol = hostOf(0xC3);
    }

    HostRecord hostOf(std::uint8_t first)
    {
        return fake.copy.neighbours().at(*fake.copy.neighbours().find(identityOf(first), false)).host;
    }

    // A download of `local` from alice, as the file list starts it.
    HostIdentity download(const std::string& local)
    {
        TaskRecord record;
        record.remotePath = "\\film.bin";
        record.localPath = local;
        return *identityFromText(commands.downloadTo(record, alice).taskIdentity);
    }

    SourceInfo keyFor(const HostIdentity& task)
    {
        SourceInfo key;
        const auto digest = hexDecode(kDigestHex, 16);
        std::copy(digest->begin(), digest->end(), key.digest.begin());
        key.sizeLow = 40960 * 1024;
        key.source = task;
        return key;
    }

    // The task writes stream entry 3, `left` blocks to go at `rate` K/s.
    void owns(const HostIdentity& task, std::uint32_t left, std::uint32_t rate)
    {
        host.streams = {
            StreamView{StreamSlot{3}, kDigestHex, 40960u * 1024, 40960, 40960 - left, rate, "/downloads/film.bin", {}}};
        host.owners[3] = task;
    }

    void runScheduler() { model.scheduler().runScheduler(); }

    FakeCopy fake;
    EventLog log;
    FakeWindowHost host;
    NoFileInfo noFileInfo;
    ShareHashTable hashes{noFileInfo, [] { return std::string("/share/"); }};
    MainWindowModel model{fake.copy, log, host, hashes};
    CopyCommands commands{fake.copy, model, [] {}};
    HostRecord alice;
    HostRecord carol;
};
} // namespace

TEST(TransferIsSlow, MoreThan150SecondsLeftOrNoRateYet)
{
    EXPECT_FALSE(transferIsSlow(1500, 10));
    EXPECT_TRUE(transferIsSlow(1510, 10));
    EXPECT_TRUE(transferIsSlow(1, 0));
}

TEST(SourceReply, ReadsTheReplierKeyAndPathAndRefusesMalformedReplies)
{
    HostRecord replier;
    replier.identity = identityOf(9);
    SourceInfo key;
    key.sizeLow = 77;
    const auto positive = parseSourceReply(sourceReply(replier, key, "\\a\\film.bin"));
    ASSERT_TRUE(positive);
    EXPECT_EQ(positive->replier.identity, replier.identity);
    EXPECT_EQ(positive->key, key);
    EXPECT_EQ(positive->path, "\\a\\film.bin");
    const auto negative = parseSourceReply(sourceReply(replier, key, ""));
    ASSERT_TRUE(negative);
    EXPECT_TRUE(negative->path.empty());

    auto unterminated = sourceReply(replier, key, "\\x");
    unterminated.pop_back();
    EXPECT_TRUE(parseSourceReply(unterminated)->path.empty());
    auto cut = sourceReply(replier, key, "");
    cut.pop_back();
    EXPECT_FALSE(parseSourceReply(cut));
    auto query = sourceReply(replier, key, "");
    query[2] = 0;
    EXPECT_FALSE(parseSourceReply(query));
    const std::string tooLong(300, 'x');
    EXPECT_TRUE(parseSourceReply(sourceReply(replier, key, tooLong))->path.empty());
}

TEST_F(TaskSchedulerTest, ASlowTransferAsksTheNeighboursOnceAndConnectsToWhoeverHasTheFile)
{
    const HostIdentity task = download("/downloads/film.bin");
    ASSERT_EQ(host.links.size(), 1u); // the download itself, straight to alice
    owns(task, 1510, 10);
    runScheduler();
    ASSERT_EQ(host.lookups.size(), 2u);
    EXPECT_EQ(host.lookups[0].key, keyFor(task));

    // carol has it; alice's negative answer makes her BAD. A fresh READY source waits a second.
    model.sourceReplyArrived(sourceReply(carol, keyFor(task), "\\copy.bin"));
    model.sourceReplyArrived(sourceReply(alice, keyFor(task), ""));
    EXPECT_EQ(host.links.size(), 1u);
    fake.clock.advanceSeconds(2);
    runScheduler();
    EXPECT_EQ(host.lookups.size(), 2u) << "a second sweep within 120 s asks nobody";
    ASSERT_EQ(host.links.size(), 2u);
    const LinkRequest& link = host.links[1];
    EXPECT_EQ(link.peer.identity(), carol.identity);
    EXPECT_EQ(link.request.remotePath, "\\copy.bin");
    EXPECT_EQ(link.request.localPath, "/downloads/film.bin");
    EXPECT_EQ(link.request.info.digest(), kDigestHex);
    EXPECT_EQ(link.localFile, "/downloads/film.bin");
    EXPECT_EQ(link.taskId, task);
    EXPECT_EQ(link.source, keyFor(task));
}

TEST_F(TaskSchedulerTest, AFastTransferLooksForNoMoreSourcesAndAnUnscheduledTaskNeverStarts)
{
    const HostIdentity task = download("/downloads/film.bin");
    owns(task, 1500, 10);
    runScheduler();
    EXPECT_TRUE(host.lookups.empty());
    owns(task, 5000, 10);
    commands.stopTask(0);
    runScheduler();
    EXPECT_TRUE(host.lookups.empty());
}

TEST_F(TaskSchedulerTest, LinkEventsMoveTheSourceBetweenStates)
{
    const HostIdentity task = download("/downloads/film.bin");
    const SourceInfo key = keyFor(task);
    model.sourceReplyArrived(sourceReply(carol, key, "\\copy.bin"));
    auto state = [&] { return model.seeds().view(key)->entries.at(0).state; };
    TransferEvent event;
    event.taskId = task;
    event.peerIdentity = carol.identity;
    event.source = key;
    event.linkIndex = 5;

    owns(task, 100, 10);
    model.taskEvent(event, EventType::FileOpened);
    EXPECT_EQ(state(), SEED_FLAG_CONNECTED);
    EXPECT_EQ(hashes.sizeForPath("/downloads/film.bin"), 40960u * 1024) << "the file's digest is remembered";
    model.taskEvent(event, EventType::NetworkLost);
    EXPECT_EQ(state(), SEED_FLAG_SUSPEND);
    host.duplicateSource = carol.identity;
    model.taskEvent(event, EventType::PeerFailed);
    EXPECT_EQ(state(), SEED_FLAG_SUSPEND) << "one of two links on the same source does not speak for it";
    host.duplicateSource.reset();
    model.taskEvent(event, EventType::PeerFailed);
    EXPECT_EQ(state(), SEED_FLAG_REJECT);

    // TCP failed: the host is marked for datagrams and the same link tries again at once.
    model.taskEvent(event, EventType::ConnectFailed);
    EXPECT_EQ(state(), SEED_FLAG_TCPFAIL);
    const auto slot = *fake.copy.neighbours().find(carol.identity, false);
    EXPECT_EQ(fake.copy.neighbours().at(slot).datagramOnly, 1);
    ASSERT_EQ(host.retries.size(), 1u);
    EXPECT_EQ(host.retries[0].linkIndex, 5);
    EXPECT_EQ(host.retries[0].key, key);
    // The datagram attempt failed too: no more retries.
    host.datagramLinks[5] = true;
    model.taskEvent(event, EventType::ConnectFailed);
    EXPECT_EQ(state(), SEED_FLAG_FAIL);
    EXPECT_EQ(fake.copy.neighbours().at(slot).datagramOnly, 0);
    EXPECT_EQ(host.retries.size(), 1u);

    model.taskEvent(event, EventType::TransferEnded);
    EXPECT_FALSE(model.seeds().view(key)) << "a finished file forgets its sources";
    EXPECT_EQ(model.tasks().rows()[0][kTaskState], kStateFinished);
    EXPECT_EQ(model.tasks().rows()[0][kTaskScheduled], "0");
}

TEST_F(TaskSchedulerTest, AnEventOfAnUnknownTaskTouchesNoSource)
{
    const SourceInfo key = keyFor(identityOf(0x77));
    model.sourceReplyArrived(sourceReply(carol, key, "\\copy.bin"));
    TransferEvent event;
    event.taskId = identityOf(0x77);
    event.peerIdentity = carol.identity;
    event.source = key;
    model.taskEvent(event, EventType::NetworkLost);
    EXPECT_EQ(model.seeds().view(key)->entries.at(0).state, SEED_FLAG_READY);
}

TEST_F(TaskSchedulerTest, StopCancelsOnlyAScheduledTaskAndResumeRestartsFromTheRowsHost)
{
    const HostIdentity task = download("/downloads/film.bin");
    hashes.storeDigest("/downloads/film.bin", kDigestHex, 40960 * 1024);
    model.sourceReplyArrived(sourceReply(carol, keyFor(task), "\\copy.bin"));
    model.seeds().setSourceState(keyFor(task), carol.identity, SEED_FLAG_CONNECTED);

    commands.stopTask(0);
    EXPECT_EQ(model.tasks().rows()[0][kTaskState], kStateCancelled);
    EXPECT_EQ(model.tasks().rows()[0][kTaskScheduled], "0");
    ASSERT_EQ(host.stopped.size(), 1u);
    EXPECT_EQ(host.stopped[0].task, task);
    EXPECT_FALSE(host.stopped[0].force) << "files served to others keep going";
    EXPECT_EQ(model.seeds().view(keyFor(task))->entries.at(0).state, SEED_FLAG_READY);
    model.tasks().setStateText(0, "网络断开");
    commands.stopTask(0);
    EXPECT_EQ(model.tasks().rows()[0][kTaskState], "网络断开") << "stopping a stopped task changes no text";

    commands.resumeTask(0);
    EXPECT_EQ(model.tasks().rows()[0][kTaskState], kStateWaiting);
    EXPECT_EQ(model.tasks().rows()[0][kTaskScheduled], "1");
    EXPECT_EQ(model.tasks().rows()[0][kTaskProgress], "0%");
    ASSERT_EQ(host.links.size(), 2u);
    EXPECT_EQ(host.links[1].peer.identity(), alice.identity);
    EXPECT_EQ(host.links[1].taskId, task);
    EXPECT_EQ(host.links[1].request.remotePath, "\\film.bin");
}

TEST_F(TaskSchedulerTest, DownloadingTheSameLocalFileAgainReusesTheRow)
{
    const HostIdentity first = download("/downloads/film.bin");
    const HostIdentity again = download("/downloads/film.bin");
    EXPECT_EQ(first, again);
    EXPECT_EQ(model.tasks().rows().size(), 1u);
    // From another host the row resumes from the host it was started with.
    TaskRecord record;
    record.remotePath = "\\film.bin";
    record.localPath = "/downloads/film.bin";
    const DownloadOutcome outcome = commands.downloadTo(record, carol);
    EXPECT_TRUE(outcome.reusedRow);
    EXPECT_EQ(host.links.back().peer.identity(), alice.identity);
}

TEST_F(TaskSchedulerTest, DeleteRemovesTheRowAndWithFilesTheFileButNeverAFolder)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vandry-delete-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "album");
    const std::string file = (dir / "film.bin").string();
    std::ofstream(file) << "partial";
    download(file);
    TaskRecord folder;
    folder.directory = 1;
    folder.remotePath = "\\album\\";
    folder.localPath = (dir / "album").string() + "/";
    commands.downloadTo(folder, alice);
    ASSERT_EQ(model.tasks().rows().size(), 2u);

    commands.deleteTask(1, true);
    EXPECT_TRUE(std::filesystem::exists(dir / "album"));
    commands.deleteTask(0, false);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_TRUE(model.tasks().rows().empty());
    download(file);
    commands.deleteTask(0, true);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(host.stopped.back().force) << "deleting stops every link on the file";
    std::filesystem::remove_all(dir);
}

TEST_F(TaskSchedulerTest, TheSchedulerRunsEveryFiveTicksAndTheIndexEvery2400)
{
    const HostIdentity task = download("/downloads/film.bin");
    owns(task, 5000, 0);
    for (int i = 0; i < 4; ++i)
        model.tick();
    EXPECT_TRUE(host.lookups.empty());
    model.tick();
    EXPECT_EQ(host.lookups.size(), 2u);
    for (int i = 5; i < 2400; ++i)
        model.tick();
    EXPECT_EQ(host.indexRebuilds, 1);
}

TEST_F(TaskSchedulerTest, AFolderTaskLooksForTheSourcesOfItsNextFileAndWritesItInsideTheFolder)
{
    TaskRecord folder;
    folder.directory = 1;
    folder.remotePath = "\\album\\";
    folder.localPath = "/downloads/album/";
    const HostIdentity task = *identityFromText(commands.downloadTo(folder, alice).taskIdentity);
    std::vector<std::uint8_t> listing;
    ByteWriter out(listing);
    ListingRecord header;
    header.type = kHeaderType;
    header.name = "\\album\\";
    encodeListingRecord(header, out);
    ListingRecord file;
    file.type = kKindFile | (kDigestPresent << 4);
    file.size = 40960 * 1024;
    const auto digest = hexDecode(kDigestHex, 16);
    std::copy(digest->begin(), digest->end(), file.digest.begin());
    file.name = "song.flac";
    encodeListingRecord(file, out);
    ASSERT_GE(model.listings().append(task, listing, 0), 0);
    // The folder's walk still runs on its own link.
    host.taskLinks[identityText(task)] = 1;

    runScheduler();
    ASSERT_EQ(host.lookups.size(), 2u);
    EXPECT_EQ(host.lookups[0].key, keyFor(task));
    model.sourceReplyArrived(sourceReply(carol, keyFor(task), "\\music\\song.flac"));
    fake.clock.advanceSeconds(2);
    runScheduler();
    ASSERT_EQ(host.links.size(), 2u);
    EXPECT_EQ(host.links[1].request.remotePath, "\\music\\song.flac");
    EXPECT_EQ(host.links[1].localFile, "/downloads/album/song.flac");
}

TEST_F(TaskSchedulerTest, AFolderTaskWithoutALinkWalksAgainOnceItsSharerIsOnlineAtMostEveryTwentySeconds)
{
    TaskRecord folder;
    folder.directory = 1;
    folder.remotePath = "\\album\\";
    folder.localPath = "/downloads/album/";
    const HostIdentity task = *identityFromText(commands.downloadTo(folder, alice).taskIdentity);
    ASSERT_GE(model.listings().append(task, {}, 0), 0);
    model.listings().setRefreshed(task, fake.clock.nowSeconds());
    ASSERT_EQ(host.links.size(), 1u);

    runScheduler();
    EXPECT_EQ(host.links.size(), 1u);
    fake.clock.advanceSeconds(21);
    runScheduler();
    ASSERT_EQ(host.links.size(), 2u);
    EXPECT_EQ(host.links[1].request.directory, 1);
    EXPECT_EQ(host.links[1].request.remotePath, "\\album\\");
    EXPECT_EQ(host.links[1].taskId, task);
}
