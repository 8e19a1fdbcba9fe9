#include <gtest/gtest.h>

#include <fstream>

#include "fake_window_host.h"
#include "file_list_payloads.h"
#include "scratch_folder.h"
#include "store/listing_cache.h"
#include "store/resume_store.h"
#include "store/share_hash_table.h"
#include "tasks/task_history.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
constexpr std::string_view kDigest = "0123456789abcdef0123456789abcdef";

// A copy's task list and the files beside it, made anew as a restart would.
struct Copy {
    explicit Copy(const std::filesystem::path& state)
        : resume(state / "resume"), hashes(noFileInfo, [] { return std::string("/share"); }),
          history(state, tasks, listings, hashes, resume)
    {
    }
    TaskList tasks{[](const HostIdentity&) { return 0; }};
    ListingCache listings;
    NoFileInfo noFileInfo;
    ResumeStore resume;
    ShareHashTable hashes;
    TaskHistory history;
};

struct TaskHistoryTest : ::testing::Test {
    HostIdentity id(std::uint8_t n) const
    {
        HostIdentity identity{};
        identity.fill(n);
        return identity;
    }
    std::size_t addTask(Copy& copy, const std::string& local, std::uint8_t n, std::uint8_t attribute = 0)
    {
        TaskRecord record;
        record.localPath = local;
        record.remotePath = "\\share\\" + std::filesystem::path(local).filename().string();
        record.attribute = attribute;
        return copy.tasks.addTaskRow(record, id(n), std::string(120, 'a'), kProgressNew, 0).row;
    }
    std::string historyText() const
    {
        std::ifstream in(state / "Table.hist", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void writeHistory(const std::string& text) const { std::ofstream(state / "Table.hist", std::ios::binary) << text; }

    ScratchFolder scratch;
    std::filesystem::path state = scratch.path();
    std::string dl = (scratch.path() / "dl").string();
};
} // namespace

TEST_F(TaskHistoryTest, ARestartBringsBackEveryTaskWithItsProgressAndRestartsOnlyThoseThatRan)
{
    std::filesystem::create_directories(dl);
    std::vector<std::uint8_t> listing;
    {
        Copy before(state);
        writeFile(dl + "/done.bin", pattern(0, 3000));
        before.hashes.storeDigest(dl + "/done.bin", kDigest, 3000); // complete, no record left
        addTask(before, dl + "/done.bin", 1, 5);
        const std::size_t running = addTask(before, dl + "/running.bin", 2);
        before.tasks.setScheduled(running, true);
        const std::size_t stopped = addTask(before, dl + "/stopped.bin", 3);
        const std::size_t folder = addTask(before, dl + "/album/", 4);
        ListingRecord song = listingFile("song.mp3", 2000, 1);
        ByteWriter out(listing);
        encodeListingRecord(song, out);
        before.listings.append(id(4), listing, 0);
        before.history.save(true);
        before.hashes.save(state / "Table.hash");
        EXPECT_EQ(before.tasks.rows()[stopped][kTaskScheduled], "0");
        EXPECT_EQ(before.tasks.rows()[folder][kTaskLocalPath], dl + "/album/");
    }
    Copy after(state);
    after.hashes.load(state / "Table.hash"); // as at start-up: the hash table, then the history
    std::vector<HostIdentity> resumed;
    after.history.load([&](const HostIdentity& task) { resumed.push_back(task); });
    ASSERT_EQ(after.tasks.rows().size(), 4u);
    const auto& rows = after.tasks.rows();
    EXPECT_EQ(rows[0][kTaskState], kStateFinished);
    EXPECT_EQ(rows[0][kTaskProgress], "100%");
    EXPECT_EQ(rows[0][kTaskAttribute], "5");
    EXPECT_EQ(rows[1][kTaskState], kStateHistory);
    EXPECT_EQ(rows[1][kTaskProgress], "");   // missing: nothing shown
    EXPECT_EQ(rows[1][kTaskAttribute], "0"); // the running mark is the history's own
    EXPECT_EQ(rows[2][kTaskIdentity], identityText(id(3)));
    EXPECT_TRUE(TaskList::isDirectoryTask(rows[3]));
    EXPECT_EQ(after.listings.buffer(id(4)).size(), listing.size()); // the queue came back
    EXPECT_EQ(resumed, std::vector<HostIdentity>{id(2)});

    // An emptied list leaves no file behind.
    while (!after.tasks.rows().empty())
        after.tasks.removeRow(0);
    after.history.save(false);
    EXPECT_FALSE(std::filesystem::exists(state / "Table.hist"));
}

TEST_F(TaskHistoryTest, VersionLinesAndMalformedLinesLoadWhatCanBeTrusted)
{
    Copy source(state);
    addTask(source, dl + "/a.bin", 1);
    addTask(source, dl + "/b.bin", 2);
    const std::string a = historyLine(source.tasks.rows()[0]);
    const std::string b = historyLine(source.tasks.rows()[1]);
    const auto loaded = [&](const std::string& text) {
        writeHistory(text);
        Copy copy(state);
        copy.history.load([](const HostIdentity&) {});
        return copy.tasks.rows().size();
    };
    EXPECT_EQ(loaded("V1\r\n" + a + "\r\n" + b + "\r\n"), 2u);
    EXPECT_EQ(loaded("V0\r\n" + a + "\r\n"), 0u);
    EXPECT_EQ(loaded("X2\r\n" + a + "\r\n"), 1u);
    EXPECT_EQ(loaded("V1\r\nshort.line\r\n" + a + "\r\n"), 1u);
    // A remote path of 300 bytes ends the load; the task before it stays.
    HistoryEntry entry;
    std::string tooLong = a.substr(0, a.rfind('.'));
    tooLong = tooLong.substr(0, tooLong.rfind('.')) + "." + std::string(600, '4') + ".0";
    EXPECT_EQ(parseHistoryLine(tooLong, entry), HistoryLineResult::Stop);
    EXPECT_EQ(loaded("V1\r\n" + a + "\r\n" + tooLong + "\r\n" + b + "\r\n"), 1u);
    EXPECT_EQ(loaded("V1\r\n" + a.substr(0, a.find('.')) + ".{zz}.00.00.0\r\n"), 0u);
}

TEST_F(TaskHistoryTest, AFailedSaveLeavesThePreviousHistoryWhole)
{
    Copy copy(state);
    addTask(copy, dl + "/a.bin", 1);
    copy.history.save(false);
    const std::string first = historyText();
    ASSERT_FALSE(first.empty());
    // The new file cannot be written beside the old one: the old one stays as it was.
    std::filesystem::create_directories(state / "Table.hist.tmp");
    addTask(copy, dl + "/b.bin", 2);
    copy.history.save(false);
    EXPECT_EQ(historyText(), first);
    std::filesystem::remove(state / "Table.hist.tmp");
    copy.history.save(false);
    EXPECT_NE(historyText(), first);
    EXPECT_FALSE(std::filesystem::exists(state / "Table.hist.tmp"));
}
