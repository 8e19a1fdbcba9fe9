#include <gtest/gtest.h>

#include <algorithm>

#include "common/file_digest.h"
#include "common/hex.h"
#include "common/md5.h"
#include "file_info_fakes.h"
#include "scratch_folder.h"
#include "store/listing.h"
#include "store/share_hash_table.h"

using namespace vandry;
using vandry::testing::CountingFileInfo;
using vandry::testing::ScratchFolder;

namespace {

struct Walked {
    std::vector<ListingRecord> records;
    std::vector<std::size_t> lengths;
};

Walked walk(ByteSpan listing)
{
    Walked walked;
    std::size_t previous = 0;
    forEachListingRecord(listing, [&](std::size_t offset, const ListingRecord& record) {
        if (!walked.records.empty())
            walked.lengths.push_back(offset - previous);
        previous = offset;
        walked.records.push_back(record);
        return true;
    });
    if (!walked.records.empty())
        walked.lengths.push_back(listing.size() - previous);
    return walked;
}

const ListingRecord* named(const Walked& walked, const std::string& name)
{
    const auto found = std::find_if(walked.records.begin(), walked.records.end(),
                                    [&](const ListingRecord& r) { return r.name == name; });
    return found == walked.records.end() ? nullptr : &*found;
}

} // namespace

TEST(ListingRecord, GoldenBytesAndMalformedRecords)
{
    ListingRecord file;
    file.type = 0x10;
    file.size = 0x100000002;
    file.digest.fill(0xAB);
    file.name = "a";
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes);
    encodeListingRecord(file, out);
    std::vector<std::uint8_t> expected = {34, 0, 0x10, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0};
    expected.insert(expected.end(), 16, 0xAB);
    expected.insert(expected.end(), {'a', 0});
    EXPECT_EQ(bytes, expected);
    const auto parsed = parseListingRecord(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->record, file);
    EXPECT_EQ(parsed->length, 34u);

    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(parseListingRecord(std::span(bytes).first(n))) << "cut at " << n;
    auto noZero = bytes;
    noZero.back() = 'b';
    EXPECT_FALSE(parseListingRecord(noZero));
    auto nameBeyond = bytes; // a digest record too short to reach its name
    nameBeyond[0] = 20;
    EXPECT_FALSE(parseListingRecord(nameBeyond));
    auto tooShort = bytes;
    tooShort[0] = 16;
    EXPECT_FALSE(parseListingRecord(tooShort));

    // A malformed record ends the walk: nothing after it is read.
    auto listing = bytes;
    listing.insert(listing.end(), {0, 0, 0, 0});
    listing.insert(listing.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(walk(listing).records.size(), 1u);
}

TEST(BuildListing, EmptyAndUnreadableFolders)
{
    ScratchFolder scratch;
    const auto withHeader = buildListing("\\music\\live\\", scratch.path().string(), kLinkListingCapacity, true,
                                         nullptr, scratch.path().string());
    const auto walked = walk(withHeader);
    ASSERT_EQ(walked.records.size(), 1u);
    EXPECT_EQ(withHeader.size(), 17u + 12u);
    EXPECT_EQ(walked.records[0].type, kHeaderType);
    EXPECT_EQ(walked.records[0].name, "\\music\\live\\");
    EXPECT_TRUE(buildListing("", scratch.path().string(), kLinkListingCapacity, false, nullptr, scratch.path().string())
                    .empty());
    EXPECT_TRUE(
        buildListing("\\x\\", scratch.file("missing"), kLinkListingCapacity, true, nullptr, scratch.path().string())
            .empty());
}

TEST(BuildListing, WithoutDigestsMarksTheLastRecordOfACompleteFolder)
{
    ScratchFolder scratch;
    vandry::testing::writeFile(scratch.file("one.txt"), vandry::testing::pattern(0, 10));
    vandry::testing::writeFile(scratch.file("two.txt"), vandry::testing::pattern(0, 20));
    const auto listing =
        buildListing("ignored", scratch.path().string(), kLinkListingCapacity, false, nullptr, scratch.path().string());
    const auto walked = walk(listing);
    ASSERT_EQ(walked.records.size(), 2u);
    for (const auto& record : walked.records)
        EXPECT_EQ(record.type, 0);
    EXPECT_EQ(walked.records[0].mark, 0);
    EXPECT_EQ(walked.records[1].mark, kMarkLast);
    EXPECT_EQ(walked.lengths[0], 17u + 7u);
    EXPECT_EQ(named(walked, "two.txt")->size, 20u);
}

TEST(BuildListing, LinksThatLeadOutOfTheShareAreLeftOut)
{
    ScratchFolder scratch;
    const auto share = scratch.path() / "share";
    std::filesystem::create_directories(share / "inner");
    vandry::testing::writeFile((scratch.path() / "secret.txt").string(), vandry::testing::pattern(0, 99));
    vandry::testing::writeFile((share / "inner" / "kept.txt").string(), vandry::testing::pattern(0, 5));
    std::filesystem::create_symlink(scratch.path() / "secret.txt", share / "outside.txt");
    std::filesystem::create_directory_symlink(scratch.path(), share / "up");
    std::filesystem::create_symlink(share / "inner" / "kept.txt", share / "inside.txt");
    const auto walked = walk(buildListing("", share.string(), kLinkListingCapacity, false, nullptr, share.string()));
    ASSERT_EQ(walked.records.size(), 2u);
    EXPECT_TRUE(named(walked, "inner"));
    EXPECT_EQ(named(walked, "inside.txt")->size, 5u);
}

TEST(BuildListing, StopsBeforeTheCapacityWithoutMark)
{
    ScratchFolder scratch;
    for (const char* name : {"aaaaa", "bbbbb", "ccccc"})
        vandry::testing::writeFile(scratch.file(name), {});
    // Three records of 22 bytes: 44 + 22 is not below 66, so the third is left out.
    const auto cut = buildListing("", scratch.path().string(), 66, false, nullptr, scratch.path().string());
    EXPECT_EQ(cut.size(), 44u);
    for (const auto& record : walk(cut).records)
        EXPECT_EQ(record.mark, 0);
    const auto whole = buildListing("", scratch.path().string(), 67, false, nullptr, scratch.path().string());
    EXPECT_EQ(whole.size(), 66u);
    EXPECT_EQ(walk(whole).records.back().mark, kMarkLast);
    EXPECT_TRUE(
        buildListing("\\long\\", scratch.path().string(), 17 + 6, true, nullptr, scratch.path().string()).empty())
        << "a header that does not fit leaves nothing";
}

TEST(BuildListing, DigestsForFilesAndStateTwoForFolders)
{
    ScratchFolder scratch;
    CountingFileInfo info(scratch.path() / "resume");
    ShareHashTable hashes(info, [] { return std::string(); });
    const auto folder = scratch.path() / "shared";
    std::filesystem::create_directories(folder / "sub");
    const auto small = vandry::testing::pattern(0, 500);
    const auto large = vandry::testing::pattern(0, 10 * 1024 * 1024);
    vandry::testing::writeFile((folder / "small.txt").string(), small);
    vandry::testing::writeFile((folder / "large.bin").string(), large);
    vandry::testing::writeFile((folder / "empty.txt").string(), {});
    ::mkfifo((folder / "pipe").c_str(), 0600);

    const auto listing =
        buildListing("\\shared\\", folder.string(), kLinkListingCapacity, true, &hashes, scratch.path().string());
    const auto walked = walk(listing);
    ASSERT_EQ(walked.records.size(), 5u) << "header, three files and a folder; the pipe is left out";
    for (std::size_t i = 1; i < walked.records.size(); ++i)
        EXPECT_EQ(walked.lengths[i], 33u + walked.records[i].name.size()) << "names at offset 32";

    EXPECT_EQ(named(walked, "sub")->type, 0x21);
    EXPECT_EQ(named(walked, "empty.txt")->type, 0x20) << "no digest for an empty file";
    const auto* smallRecord = named(walked, "small.txt");
    EXPECT_EQ(smallRecord->type, 0x10);
    EXPECT_EQ(smallRecord->digest, md5(small));
    const auto* largeRecord = named(walked, "large.bin");
    EXPECT_EQ(largeRecord->type, 0x10);
    EXPECT_EQ(largeRecord->digest, md5(std::span(large).first(kFileDigestPrefix)));
    EXPECT_EQ(largeRecord->size, large.size());

    const auto largePath = (folder / "large.bin").string();
    EXPECT_EQ(hashes.sizeForPath(largePath), large.size());
    EXPECT_EQ(hashes.sizeForPath((folder / "small.txt").string()), 500u);
    EXPECT_FALSE(hashes.sizeForPath((folder / "empty.txt").string()));

    // The table answers the next listing without reading the large file again.
    const int computed = info.computeCalls;
    buildListing("\\shared\\", folder.string(), kLinkListingCapacity, true, &hashes, scratch.path().string());
    EXPECT_EQ(info.computeCalls, computed);
}

TEST(BuildListing, SameContentKeepsTheLastListedPathAndSmallFilesComeBackAfterRestart)
{
    ScratchFolder scratch;
    CountingFileInfo info(scratch.path() / "resume");
    const auto folder = scratch.path() / "shared";
    std::filesystem::create_directories(folder);
    const auto content = vandry::testing::pattern(0, 700);
    vandry::testing::writeFile((folder / "first.txt").string(), content);
    vandry::testing::writeFile((folder / "second.txt").string(), content);
    const auto tableFile = scratch.file("Table.hash");
    std::string last, earlier;
    {
        ShareHashTable hashes(info, [] { return std::string(); });
        const auto walked =
            walk(buildListing("\\", folder.string(), kLinkListingCapacity, true, &hashes, scratch.path().string()));
        ASSERT_EQ(walked.records.size(), 3u);
        last = (folder / walked.records[2].name).string();
        earlier = (folder / walked.records[1].name).string();
        EXPECT_TRUE(hashes.sizeForPath(last));
        EXPECT_FALSE(hashes.sizeForPath(earlier));
        hashes.save(tableFile);
    }
    ShareHashTable hashes(info, [] { return std::string(); });
    hashes.load(tableFile);
    const auto walked =
        walk(buildListing("\\", folder.string(), kLinkListingCapacity, true, &hashes, scratch.path().string()));
    for (std::size_t i = 1; i < walked.records.size(); ++i)
        EXPECT_EQ(walked.records[i].type, 0x10) << "the listing computes small files itself";
    EXPECT_EQ(hashes.sizeForPath(last), 700u);
}

TEST(DirectoryQueue, QueuesTheTreeDepthFirstInPreOrder)
{
    ScratchFolder scratch;
    const auto root = scratch.path() / "root";
    std::filesystem::create_directories(root / "a" / "x" / "y");
    std::filesystem::create_directories(root / "a" / "z");
    std::filesystem::create_directories(root / "a" / "back\\slash");
    vandry::testing::writeFile((root / "a" / "file.txt").string(), {});
    std::filesystem::create_directory_symlink(root / "a", root / "a" / "z" / "loop");

    DirectoryQueue queue;
    EXPECT_EQ(queue.nextQueuedDirectory("\\a", true, root.string() + "/"), "");
    std::vector<std::string> order;
    for (auto next = queue.nextQueuedDirectory("", false, root.string()); !next.empty();
         next = queue.nextQueuedDirectory("", false, root.string()))
        order.push_back(next);
    const std::vector<std::string> xFirst = {"\\a\\", "\\a\\x\\", "\\a\\x\\y\\", "\\a\\z\\"};
    const std::vector<std::string> zFirst = {"\\a\\", "\\a\\z\\", "\\a\\x\\", "\\a\\x\\y\\"};
    EXPECT_TRUE(order == xFirst || order == zFirst) << ::testing::PrintToString(order);

    queue.nextQueuedDirectory("\\a\\x\\", true, root.string());
    queue.nextQueuedDirectory("\\a\\..\\..\\", true, root.string());
    EXPECT_EQ(queue.nextQueuedDirectory("", false, root.string()), "") << "a new start empties the queue";
    queue.nextQueuedDirectory("a\\\\x", true, root.string());
    EXPECT_EQ(queue.nextQueuedDirectory("", false, root.string()), "\\a\\x\\");
    EXPECT_EQ(queue.nextQueuedDirectory("", false, root.string()), "\\a\\x\\y\\");
}

TEST(WholeFile, ReadsSmallFilesAndWritesWithOrWithoutOverwrite)
{
    ScratchFolder scratch;
    const auto file = scratch.file("small.bin");
    const std::vector<std::uint8_t> first = {1, 2, 3, 4}, second = {9, 9};
    EXPECT_TRUE(writeWholeFile(file, first, false));
    EXPECT_TRUE(writeWholeFile(file, second, false));
    EXPECT_EQ(readWholeFile(file, 4), first) << "existing content stays without overwrite";
    EXPECT_FALSE(readWholeFile(file, 3));
    EXPECT_TRUE(writeWholeFile(file, second, true));
    EXPECT_EQ(readWholeFile(file, 1023), second);
    EXPECT_FALSE(readWholeFile(scratch.path().string(), 1023));
}
