#include <gtest/gtest.h>

#include <memory>

#include "link/file_stream.h"
#include "link/local_file_check.h"
#include "scratch_folder.h"
#include "store/resume_store.h"
#include "stream_list.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

class FileStreamTest : public ::testing::Test {
protected:
    static FileInfoBlock infoFor(std::uint64_t size)
    {
        FileInfoBlock info;
        info.setDigest("0123456789abcdef0123456789abcdef");
        info.describe(size);
        return info;
    }
    OpenResult openForWrite(FileStream& stream, std::uint64_t size, const std::string& where)
    {
        auto info = infoFor(size);
        return stream.open(where, info, true, task);
    }
    // What a link does for [from, to): one write per block, then position and receivedKb advance.
    static void fetch(FileStream& stream, std::uint32_t from, std::uint32_t to)
    {
        stream.range() = {from, to, from};
        const auto size = stream.entry()->info.size;
        for (auto block = from; block < to; ++block) {
            const std::uint64_t offset = std::uint64_t{block} * 1024;
            ASSERT_TRUE(stream.writeAt(block, pattern(offset, std::min<std::uint64_t>(1024, size - offset))));
            stream.range().position = block + 1;
            stream.entry()->receivedKb += 1;
        }
    }
    BlockMap recorded() const
    {
        const auto lookup = store.load(path);
        EXPECT_EQ(lookup.status, ResumeStore::Status::Found);
        return lookup.record.map;
    }

    ScratchFolder scratch;
    ResumeStore store{scratch.path() / "state" / "resume"};
    StreamTable table{store};
    StreamList links;
    std::string path = scratch.file("download.bin");
    HostIdentity task{1, 2, 3};
};

BlockMap ranges(std::initializer_list<std::uint32_t> boundaries)
{
    return BlockMap::fromBoundaries(std::vector<std::uint32_t>(boundaries)).value_or(BlockMap{});
}

} // namespace

TEST_F(FileStreamTest, ReadingResults)
{
    writeFile(path, pattern(0, 1024));
    auto& reader = links.add(table);
    FileInfoBlock info; // the requester does not know the digest
    ASSERT_EQ(reader.open(path, info, false, {}), OpenResult::Ok);
    EXPECT_EQ(info.blockCount, 1u);
    EXPECT_EQ(reader.mode(), StreamMode::Read);
    std::vector<std::uint8_t> buffer(4096);
    EXPECT_EQ(reader.readAt(0, 4, buffer), 1024u);
    EXPECT_EQ(std::vector(buffer.begin(), buffer.begin() + 1024), pattern(0, 1024));
    EXPECT_FALSE(reader.writeAt(0, pattern(0, 1024)));

    auto& other = links.add(table);
    auto wrong = infoFor(1024);
    EXPECT_EQ(other.open(path, wrong, false, {}), OpenResult::DigestDiffers);
    writeFile(scratch.file("small"), pattern(0, 1023));
    EXPECT_EQ(other.open(scratch.file("small"), info, false, {}), OpenResult::TooSmall);
    EXPECT_EQ(other.open(scratch.file("missing"), info, false, {}), OpenResult::Missing);
    EXPECT_FALSE(other.slot());

    const auto slot = *reader.slot();
    reader.close();
    EXPECT_FALSE(table.inUse(slot));
    EXPECT_FALSE(table.findByPath(path));
}

TEST_F(FileStreamTest, FullTableGivesThree)
{
    FileInfoBlock info;
    for (int i = 0; i <= 128; ++i) {
        const auto file = scratch.file("f" + std::to_string(i));
        writeFile(file, pattern(0, 1024));
        EXPECT_EQ(links.add(table).open(file, info, false, {}), i < 128 ? OpenResult::Ok : OpenResult::TableFull);
    }
}

TEST_F(FileStreamTest, WritingAnotherFileStartsAPartialDownloadAfreshButNeverReplacesTheUsersFile)
{
    writeFile(path, pattern(0, 8192)); // complete, but not the file asked for
    auto& writer = links.add(table);
    EXPECT_EQ(openForWrite(writer, 102400, path), OpenResult::NameTaken);
    EXPECT_EQ(readFile(path), pattern(0, 8192));
    writeFile(path, pattern(0, 100));
    EXPECT_EQ(openForWrite(writer, 102400, path), OpenResult::NameTaken);
    EXPECT_EQ(readFile(path), pattern(0, 100));

    // A partial download of a file of another size is ours to start over.
    std::filesystem::remove(path);
    ASSERT_EQ(openForWrite(writer, 51200, path), OpenResult::Ok);
    fetch(writer, 0, 10);
    writer.close();
    ASSERT_EQ(openForWrite(writer, 102400, path), OpenResult::Ok);
    EXPECT_EQ(writer.mode(), StreamMode::Truncate);
    EXPECT_TRUE(writer.entry()->map.empty());
    EXPECT_EQ(writer.entry()->receivedKb, 0u);
    EXPECT_EQ(fileLength(path), 0u);
    EXPECT_TRUE(recorded().empty());
    EXPECT_EQ(table.findByOwner(task), writer.slot());

    auto other = infoFor(102400);
    other.setDigest("ffffffffffffffffffffffffffffffff");
    EXPECT_EQ(links.add(table).open(path, other, true, task), OpenResult::OpenFailed);
    other.blockCount = 0;
    EXPECT_EQ(links.add(table).open(scratch.file("x"), other, true, task), OpenResult::OpenFailed);
}

TEST_F(FileStreamTest, TrailerIsAppendedRewrittenAndRestored)
{
    auto& writer = links.add(table);
    ASSERT_EQ(openForWrite(writer, 102400, path), OpenResult::Ok);
    fetch(writer, 0, 10);
    writer.close();
    EXPECT_EQ(fileLength(path), 10816u);
    EXPECT_FALSE(table.findByPath(path));
    const auto closed = readFile(path);

    ASSERT_EQ(openForWrite(writer, 102400, path), OpenResult::Ok);
    EXPECT_EQ(writer.mode(), StreamMode::Resume);
    EXPECT_EQ(writer.entry()->map, BlockMap::whole(10));
    writer.close();
    EXPECT_EQ(readFile(path), closed);

    ASSERT_TRUE(store.remove(path)); // the trailer alone still tells
    StreamEntry entry;
    ASSERT_EQ(checkLocalFile(path, entry, store), CheckResult::Loaded);
    EXPECT_EQ(entry.map, BlockMap::whole(10));
}

TEST_F(FileStreamTest, WritersShareOneEntryAndTheLastWritesTheTrailer)
{
    auto& first = links.add(table);
    auto& second = links.add(table);
    ASSERT_EQ(openForWrite(first, 102400, path), OpenResult::Ok);
    auto info = infoFor(102400);
    ASSERT_EQ(second.open(path, info, true, HostIdentity{9}), OpenResult::Ok);
    EXPECT_EQ(first.slot(), second.slot());
    EXPECT_EQ(first.entry()->ownerTask, task);
    fetch(first, 0, 5);
    fetch(second, 5, 10);
    first.close();
    EXPECT_EQ(fileLength(path), 10240u);
    EXPECT_TRUE(table.findByPath(path));
    second.close();
    EXPECT_EQ(fileLength(path), 10816u);
    EXPECT_FALSE(table.findByPath(path));
}

TEST_F(FileStreamTest, ReaderAndWriterShareTheEntry)
{
    auto& writer = links.add(table);
    ASSERT_EQ(openForWrite(writer, 102400, path), OpenResult::Ok);
    fetch(writer, 0, 3);
    ASSERT_TRUE(writer.flushRange());
    auto& reader = links.add(table);
    auto asked = infoFor(102400);
    ASSERT_EQ(reader.open(path, asked, false, {}), OpenResult::Ok);
    EXPECT_EQ(reader.slot(), writer.slot());
    EXPECT_EQ(reader.entry()->map, BlockMap::whole(3));
    std::vector<std::uint8_t> block(1024);
    ASSERT_EQ(reader.readAt(1, 1, block), 1024u);
    EXPECT_EQ(block, pattern(1024, 1024));

    writer.close();
    EXPECT_EQ(fileLength(path), 3072u + 576);
    EXPECT_TRUE(table.findByPath(path));
    reader.close();
    EXPECT_FALSE(table.findByPath(path));
}

TEST_F(FileStreamTest, FlushRangeMergesAndCountsReceivedBlocks)
{
    auto& writer = links.add(table);
    ASSERT_EQ(openForWrite(writer, 102400, path), OpenResult::Ok);
    fetch(writer, 0, 10);
    writer.peerMap().addRange(0, 50);
    ASSERT_TRUE(writer.flushRange());
    EXPECT_EQ(writer.entry()->receivedKb, 10u);
    EXPECT_TRUE(writer.peerMap().empty());
    EXPECT_EQ(recorded(), BlockMap::whole(10));

    fetch(writer, 5, 15); // five blocks merged twice: counted as the range's length again
    writer.flushRange();
    EXPECT_EQ(writer.entry()->map, BlockMap::whole(15));
    EXPECT_EQ(writer.entry()->receivedKb, 25u);

    writer.entry()->receivedKb = 0;
    fetch(writer, 20, 22);
    writer.flushRange();
    EXPECT_EQ(writer.entry()->receivedKb, 17u); // raised to the map's count
    EXPECT_EQ(recorded(), ranges({0, 15, 20, 22}));

    writer.range() = {99, 100, 101}; // past the last block: not merged, but cleared
    writer.flushRange();
    EXPECT_EQ(writer.entry()->map, ranges({0, 15, 20, 22}));
    EXPECT_EQ(writer.range().position, 0u);
}

TEST_F(FileStreamTest, CrashKeepsExactlyTheFlushedBlocks)
{
    {
        StreamTable crashed(store);
        StreamList crashedLinks;
        auto& writer = crashedLinks.add(crashed);
        ASSERT_EQ(openForWrite(writer, 102400, path), OpenResult::Ok);
        EXPECT_TRUE(recorded().empty()); // recorded before the first byte
        fetch(writer, 0, 10);
        ASSERT_TRUE(writer.flushRange());
        fetch(writer, 10, 20); // written, never flushed
    }                          // killed: no close, no trailer
    EXPECT_EQ(fileLength(path), 20480u);

    // What the record prevents: without it the same bytes pass for a complete file.
    const auto bare = scratch.file("bare.bin");
    std::filesystem::copy_file(path, bare);
    StreamEntry entry;
    ASSERT_EQ(checkLocalFile(bare, entry, store), CheckResult::Loaded);
    EXPECT_TRUE(entry.map.isWhole(20));

    auto& resumed = links.add(table);
    ASSERT_EQ(openForWrite(resumed, 102400, path), OpenResult::Ok);
    EXPECT_EQ(resumed.mode(), StreamMode::Resume);
    EXPECT_EQ(resumed.entry()->map, BlockMap::whole(10));
    EXPECT_EQ(resumed.entry()->receivedKb, 10u);
}

TEST_F(FileStreamTest, SavedProgressCoversEveryWriterOfTheEntry)
{
    {
        StreamTable crashed(store);
        StreamList crashedLinks;
        auto& first = crashedLinks.add(crashed);
        auto& second = crashedLinks.add(crashed);
        ASSERT_EQ(openForWrite(first, 102400, path), OpenResult::Ok);
        ASSERT_EQ(openForWrite(second, 102400, path), OpenResult::Ok);
        fetch(first, 0, 4);
        fetch(second, 50, 53);
        second.range().end = 60; // still fetching
        ASSERT_TRUE(first.saveProgress());
        EXPECT_TRUE(first.entry()->map.empty()); // progress is recorded, not merged
    }
    StreamEntry entry;
    ASSERT_EQ(checkLocalFile(path, entry, store), CheckResult::Loaded);
    EXPECT_EQ(entry.map, ranges({0, 4, 50, 53}));
}

TEST_F(FileStreamTest, CompletionRemovesTheRecord)
{
    auto& writer = links.add(table);
    constexpr std::uint64_t kSize = 100 * 1024 + 928;
    ASSERT_EQ(openForWrite(writer, kSize, path), OpenResult::Ok);
    std::filesystem::resize_file(path, kSize + 1000);       // as if an old trailer lay past the end
    EXPECT_FALSE(writer.writeAt(1, pattern(1024, 100)));    // a short block inside the file
    EXPECT_FALSE(writer.writeAt(101, pattern(3072, 1024))); // past the end
    fetch(writer, 0, 101);
    EXPECT_EQ(store.load(path).status, ResumeStore::Status::Found);
    ASSERT_TRUE(writer.flushRange());
    EXPECT_EQ(store.load(path).status, ResumeStore::Status::None);
    writer.close();
    EXPECT_EQ(readFile(path), pattern(0, kSize));
    StreamEntry entry;
    ASSERT_EQ(checkLocalFile(path, entry, store), CheckResult::Loaded);
    EXPECT_TRUE(entry.map.isWhole(101));
}

// A small file not there yet is written beside its place: nothing of it is at its path, or in a
// record, until it is whole; an interrupted one starts again, a dropped one leaves nothing.
TEST_F(FileStreamTest, SmallNewFileIsStagedAndAppearsOnlyWhole)
{
    constexpr std::uint64_t kSize = 10 * 1024 + 5;
    {
        StreamTable crashed(store);
        StreamList crashedLinks;
        auto& writer = crashedLinks.add(crashed);
        ASSERT_EQ(openForWrite(writer, kSize, path), OpenResult::Ok);
        ASSERT_TRUE(writer.entry()->staged);
        fetch(writer, 0, 6);
        ASSERT_TRUE(writer.flushRange());
        auto& reader = crashedLinks.add(crashed);
        auto asked = infoFor(kSize);
        ASSERT_EQ(reader.open(path, asked, false, {}), OpenResult::Ok) << "servable while staged";
        std::vector<std::uint8_t> block(1024);
        ASSERT_EQ(reader.readAt(5, 1, block), 1024u);
        EXPECT_EQ(block, pattern(5 * 1024, 1024));
    } // killed
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(store.load(path).status, ResumeStore::Status::None);

    auto& writer = links.add(table);
    ASSERT_EQ(openForWrite(writer, kSize, path), OpenResult::Ok);
    EXPECT_TRUE(writer.entry()->map.empty()) << "starts again";
    fetch(writer, 0, 11);
    ASSERT_TRUE(writer.flushRange());
    EXPECT_FALSE(writer.entry()->staged);
    EXPECT_EQ(readFile(path), pattern(0, kSize));
    EXPECT_FALSE(std::filesystem::exists(stagedPath(path)));
    writer.close();

    const auto dropped = scratch.file("dropped.bin");
    ASSERT_EQ(openForWrite(writer, kSize, dropped), OpenResult::Ok);
    fetch(writer, 0, 3);
    writer.close();
    EXPECT_FALSE(std::filesystem::exists(dropped));
    EXPECT_FALSE(std::filesystem::exists(stagedPath(dropped)));
}

TEST_F(FileStreamTest, FilesBeyondFourGiB)
{
    constexpr std::uint64_t kSize = 5ull << 30;
    constexpr std::uint32_t kBlock = (4u << 20) + 512; // 4 GiB + 512 KiB
    auto& writer = links.add(table);
    ASSERT_EQ(openForWrite(writer, kSize, path), OpenResult::Ok);
    fetch(writer, kBlock, kBlock + 1);
    ASSERT_TRUE(writer.flushRange());
    EXPECT_EQ(fileLength(path), (kBlock + 1ull) * 1024);
    std::vector<std::uint8_t> buffer(4096);
    ASSERT_EQ(writer.readAt(kBlock, 4, buffer), 1024u);
    EXPECT_EQ(std::vector(buffer.begin(), buffer.begin() + 1024), pattern(kBlock * 1024ull, 1024));

    writer.close();
    EXPECT_EQ(fileLength(path), (kBlock + 1ull) * 1024 + 576);
    ASSERT_TRUE(store.remove(path));
    StreamEntry entry;
    ASSERT_EQ(checkLocalFile(path, entry, store), CheckResult::Loaded);
    EXPECT_EQ(entry.info.size, kSize);
    EXPECT_EQ(entry.map, ranges({kBlock, kBlock + 1}));
}
