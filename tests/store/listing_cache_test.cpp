#include <gtest/gtest.h>

#include "common/hex.h"
#include "common/md5.h"
#include "file_info_fakes.h"
#include "scratch_folder.h"
#include "store/listing_cache.h"
#include "store/listing_record.h"
#include "store/share_hash_table.h"

using namespace vandry;
using vandry::testing::CannedFileInfo;
using vandry::testing::ScratchFolder;

namespace {

HostIdentity taskId(std::uint8_t n)
{
    HostIdentity id{};
    id[0] = n;
    id[15] = 0xEE;
    return id;
}

ListingRecord header(const std::string& name)
{
    ListingRecord record;
    record.type = kHeaderType;
    record.name = name;
    return record;
}

ListingRecord file(const std::string& name, std::uint64_t size, std::uint8_t digestState = 1)
{
    ListingRecord record;
    record.type = static_cast<std::uint8_t>(digestState << 4);
    record.size = size;
    record.digest = md5(asBytes(name));
    record.name = name;
    return record;
}

std::vector<std::uint8_t> listingOf(std::initializer_list<ListingRecord> records)
{
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    for (const auto& record : records)
        encodeListingRecord(record, out);
    return bytes;
}

std::vector<std::uint8_t> marks(const ListingCache& cache, const HostIdentity& task)
{
    std::vector<std::uint8_t> found;
    forEachListingRecord(cache.buffer(task), [&](std::size_t, const ListingRecord& record) {
        if (!record.isHeader())
            found.push_back(record.mark);
        return true;
    });
    return found;
}

} // namespace

TEST(ListingCache, AppendGrowsInStepsAndSlotsStayContiguous)
{
    ListingCache cache;
    const std::vector<std::uint8_t> small(100, 7), large(40000, 8);
    cache.append(taskId(1), small, 0);
    EXPECT_EQ(cache.capacity(taskId(1)), 32000u);
    cache.append(taskId(1), large, 0);
    EXPECT_EQ(cache.capacity(taskId(1)), 96000u);
    EXPECT_EQ(cache.buffer(taskId(1)).size(), 40100u);

    for (std::uint8_t i = 2; i <= ListingCache::kSlots; ++i)
        ASSERT_EQ(cache.append(taskId(i), small, 0), i - 1);
    EXPECT_FALSE(cache.appendFrame(taskId(200), small)) << "all slots taken";

    EXPECT_EQ(cache.remove(taskId(2), false), -1);
    EXPECT_EQ(cache.findCacheSlot(taskId(1)), 0);
    EXPECT_EQ(cache.findCacheSlot(taskId(3)), 1) << "later slots move down one place";
    EXPECT_EQ(cache.append(taskId(200), small, 0), 127);
    cache.remove(taskId(1), true);
    EXPECT_EQ(cache.findCacheSlot(taskId(1)), 0);
    EXPECT_TRUE(cache.buffer(taskId(1)).empty());
}

TEST(ListingCache, NextFileHandsOutFilesAndCreatesEmptyOnes)
{
    ScratchFolder scratch;
    const auto base = scratch.path().string() + "/live/";
    ListingCache cache;
    const auto task = taskId(1);
    cache.append(task,
                 listingOf({header("\\music\\live\\"), file("empty.txt", 0), file("song.mp3", 3000),
                            file("unknown.bin", 5000, 2)}),
                 0);

    TaskRecord record;
    record.info.setDigest("ffffffffffffffffffffffffffffffff");
    ASSERT_TRUE(cache.nextFile(task, record, base, "\\music\\", true, false));
    EXPECT_EQ(record.remotePath, "\\music\\live\\song.mp3");
    EXPECT_EQ(record.localPath, scratch.path().string() + "/live/live/song.mp3");
    EXPECT_EQ(record.info.digest(), hexEncode(md5(asBytes("song.mp3"))));
    EXPECT_EQ(record.info.size, 3000u);
    EXPECT_EQ(vandry::testing::fileLength(scratch.path().string() + "/live/live/empty.txt"), 0u);
    EXPECT_TRUE(std::filesystem::exists(scratch.path() / "live" / "live" / "empty.txt"));
    EXPECT_EQ(marks(cache, task), (std::vector<std::uint8_t>{kMarkDone, kMarkHandedOut, 0}));

    // A file whose sharer knew no digest goes out with its size only.
    ASSERT_TRUE(cache.nextFile(task, record, base, "\\music\\", true, true));
    EXPECT_EQ(record.remotePath, "\\music\\live\\unknown.bin");
    EXPECT_FALSE(record.info.digestKnown());
    EXPECT_EQ(record.info.size, 5000u);

    EXPECT_FALSE(cache.nextFile(task, record, base, "\\music\\", false, true));
    EXPECT_EQ(record.localPath, scratch.path().string() + "/live/live/") << "cut back to its folder";
    // Without skipping, handed-out files come round again.
    EXPECT_TRUE(cache.nextFile(task, record, base, "\\music\\", false, false));
    EXPECT_EQ(record.remotePath, "\\music\\live\\song.mp3");
    EXPECT_FALSE(record.info.digestKnown());
}

TEST(ListingCache, NamesThatLeaveTheFolderAreNeverHandedOut)
{
    ScratchFolder scratch;
    ListingCache cache;
    const auto task = taskId(1);
    cache.append(task,
                 listingOf({header("\\m\\"), file("..", 0), file("a/b", 0), file("x\\y", 10), header("\\m\\..\\..\\"),
                            file("passwd", 0), file("evil", 10)}),
                 0);
    TaskRecord record;
    EXPECT_FALSE(cache.nextFile(task, record, scratch.path().string() + "/dl/", "\\m\\", false, true));
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "passwd"));
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "dl" / "a"));
    EXPECT_EQ(marks(cache, task), (std::vector<std::uint8_t>(5, 0)));
}

TEST(ListingCache, MarkFileDoneFindsTheFileInItsOwnFolder)
{
    ListingCache cache;
    const auto task = taskId(1);
    cache.append(task, listingOf({header("\\a\\"), file("same.txt", 2000), header("\\a\\b\\"), file("same.txt", 2000)}),
                 0);
    TaskRecord first, second;
    ASSERT_TRUE(cache.nextFile(task, first, "", "\\a\\", false, true));
    ASSERT_TRUE(cache.nextFile(task, second, "", "\\a\\", false, true));
    ASSERT_EQ(second.remotePath, "\\a\\b\\same.txt");

    second.info.size = 2001;
    EXPECT_FALSE(cache.markFileDone(task, second)) << "the size must match";
    second.info.size = 2000;
    second.remotePath = "\\a\\b\\SAME.txt";
    EXPECT_FALSE(cache.markFileDone(task, second));
    second.remotePath = "\\a\\\\b\\same.txt";
    EXPECT_TRUE(cache.markFileDone(task, second));
    EXPECT_EQ(marks(cache, task), (std::vector<std::uint8_t>{kMarkHandedOut, kMarkDone}));
    EXPECT_FALSE(cache.markFileDone(taskId(9), second));
}

// The walk for the next file goes on where the last one stopped, so later listings, files done
// out of order and a reconcile must all still be seen.
TEST(ListingCache, HandingOutGoesOnAcrossListingsAndStartsOverAfterAReconcile)
{
    ScratchFolder scratch;
    CannedFileInfo info;
    ShareHashTable hashes(info, [] { return std::string(); });
    const auto base = scratch.path().string() + "/";
    ListingCache cache;
    const auto task = taskId(1);
    cache.append(task, listingOf({header("\\m\\a\\"), file("f1", 10), file("f2", 20)}), 0);
    TaskRecord first, second, third;
    ASSERT_TRUE(cache.nextFile(task, first, base, "\\m\\", false, true));
    ASSERT_TRUE(cache.nextFile(task, second, base, "\\m\\", false, true));
    EXPECT_FALSE(cache.nextFile(task, third, base, "\\m\\", false, true));

    cache.append(task, listingOf({header("\\m\\b\\"), file("g1", 30)}), 0);
    ASSERT_TRUE(cache.nextFile(task, third, base, "\\m\\", false, true));
    EXPECT_EQ(third.remotePath, "\\m\\b\\g1");
    EXPECT_EQ(third.localPath, base + "b/g1");

    first.info.size = 10;
    third.info.size = 30;
    EXPECT_TRUE(cache.markFileDone(task, first)) << "not the file handed out last";
    EXPECT_TRUE(cache.markFileDone(task, third));
    EXPECT_FALSE(cache.markFileDone(task, third)) << "done already";
    EXPECT_EQ(marks(cache, task), (std::vector<std::uint8_t>{kMarkDone, kMarkHandedOut, kMarkDone}));

    // Nothing is on disk: after a reconcile every file is pending again, from the first.
    cache.append(task, {}, 1);
    cache.reconcile(task, base, "\\m\\", hashes);
    ASSERT_TRUE(cache.nextFile(task, first, base, "\\m\\", false, true));
    EXPECT_EQ(first.remotePath, "\\m\\a\\f1");
}

TEST(ListingCache, ProgressCountsNonEmptyFiles)
{
    ListingCache cache;
    const auto task = taskId(1);
    int done = -1;
    EXPECT_EQ(cache.progress(task, &done), 0);
    EXPECT_EQ(done, 0);
    auto listing = listingOf({header("\\a\\"), file("one", 10), file("two", 20), file("three", 30), file("empty", 0)});
    ListingRecord folder = file("sub", 0, 2);
    folder.type |= kKindFolder;
    const auto more = listingOf({folder});
    listing.insert(listing.end(), more.begin(), more.end());
    cache.append(task, listing, 0);
    // Counted now, then kept current by the marks.
    EXPECT_EQ(cache.progress(task, &done), 0);
    TaskRecord record;
    ASSERT_TRUE(cache.nextFile(task, record, "", "\\a\\", false, true));
    EXPECT_EQ(cache.progress(task, &done), 0);
    record.info.size = 10;
    ASSERT_TRUE(cache.markFileDone(task, record));
    EXPECT_EQ(cache.progress(task, &done), 33);
    EXPECT_EQ(done, 1);

    // A damaged tail (as from a cut queue file) ends the walk without reading past the buffer.
    cache.append(task, std::vector<std::uint8_t>{200, 0, 0, 0}, 0);
    EXPECT_EQ(cache.progress(task, nullptr), 33);
}

TEST(ListingCache, ReconcileMarksWhatIsOnDisk)
{
    ScratchFolder scratch;
    CannedFileInfo info;
    ShareHashTable hashes(info, [] { return std::string(); });
    const auto base = scratch.path().string() + "/";
    std::filesystem::create_directories(scratch.path() / "live");
    vandry::testing::writeFile(base + "live/right.bin", vandry::testing::pattern(0, 3000));
    vandry::testing::writeFile(base + "live/short.bin", vandry::testing::pattern(0, 100));
    vandry::testing::writeFile(base + "live/changed.bin", vandry::testing::pattern(0, 4000));
    vandry::testing::writeFile(base + "live/unknown.bin", vandry::testing::pattern(0, 500));
    hashes.storeDigest(base + "live/changed.bin", hexEncode(md5(asBytes("other"))), 4000);
    hashes.storeDigest(base + "live/unknown.bin", hexEncode(md5(asBytes("any"))), 500);

    ListingCache cache;
    const auto task = taskId(1);
    auto handedOut = file("missing.bin", 10);
    handedOut.mark = kMarkHandedOut;
    const auto listing = listingOf({header("\\music\\live\\"), file("right.bin", 3000), file("short.bin", 3000),
                                    file("changed.bin", 4000), handedOut, file("unknown.bin", 500, 2)});
    cache.append(task, listing, 0);
    cache.reconcile(task, base, "\\music\\", hashes);
    EXPECT_EQ(marks(cache, task), (std::vector<std::uint8_t>{0, 0, 0, kMarkHandedOut, 0})) << "only after a load";

    cache.remove(task, false);
    cache.append(task, listing, 1);
    cache.reconcile(task, base, "\\music\\", hashes);
    EXPECT_EQ(marks(cache, task), (std::vector<std::uint8_t>{kMarkDone, 0, 0, 0, kMarkDone}));

    cache.remove(task, false);
    cache.append(task, listingOf({header("\\m\\"), file("right.bin", 3000)}), 1);
    cache.reconcile(task, base, "\\music\\", hashes);
    EXPECT_EQ(marks(cache, task), (std::vector<std::uint8_t>{0})) << "a header above the base ends the walk";
}
