#include <gtest/gtest.h>

#include "common/file_digest.h"
#include "link/local_file_check.h"
#include "scratch_folder.h"
#include "store/resume_store.h"
#include "store/resume_trailer.h"

using namespace vandry;
using namespace vandry::testing;

namespace {

class LocalFileCheck : public ::testing::Test {
protected:
    FileInfoBlock infoFor(std::uint64_t size) const
    {
        FileInfoBlock info;
        info.setDigest("0123456789abcdef0123456789abcdef");
        info.describe(size);
        return info;
    }
    // `present` blocks of pattern data followed by the trailer of a 100-block file holding them.
    std::string partialWithTrailer(std::uint32_t present)
    {
        auto bytes = pattern(0, present * 1024);
        const auto trailer = encodeResumeTrailer(infoFor(102400), BlockMap::whole(present));
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
        writeFile(path, bytes);
        return path;
    }
    CheckResult check(StreamEntry& entry) { return checkLocalFile(path, entry, store); }

    ScratchFolder scratch;
    ResumeStore store{scratch.path() / "resume"};
    std::string path = scratch.file("file.bin");
};

} // namespace

TEST_F(LocalFileCheck, PlainFilesAreComplete)
{
    writeFile(path, pattern(0, 3000));
    StreamEntry entry;
    ASSERT_EQ(check(entry), CheckResult::Loaded);
    EXPECT_EQ(entry.info.size, 3000u);
    EXPECT_EQ(entry.info.marker, kInfoMarker);
    EXPECT_EQ(entry.info.digest(), fileDigestText(*computeFileDigest(path)));
    EXPECT_TRUE(entry.map.isWhole(3));
    EXPECT_EQ(entry.receivedKb, 3u);

    writeFile(path, pattern(0, 1024));
    EXPECT_EQ(check(entry), CheckResult::Loaded);
    writeFile(path, pattern(0, 1023));
    EXPECT_EQ(check(entry), CheckResult::Unusable);
    EXPECT_EQ(checkLocalFile(scratch.file("missing"), entry, store), CheckResult::Missing);
    EXPECT_EQ(checkLocalFile(scratch.path().string(), entry, store), CheckResult::Missing);
}

TEST_F(LocalFileCheck, TrailerRestoresThePartialState)
{
    partialWithTrailer(10);
    StreamEntry entry;
    ASSERT_EQ(check(entry), CheckResult::Loaded);
    EXPECT_EQ(entry.info, infoFor(102400));
    EXPECT_EQ(entry.map, BlockMap::whole(10));
    EXPECT_EQ(entry.receivedKb, 10u);

    auto bytes = readFile(path);
    bytes[bytes.size() - 3] ^= 0x01; // the second marker
    writeFile(path, bytes);
    ASSERT_EQ(check(entry), CheckResult::Loaded);
    EXPECT_EQ(entry.info.size, 10816u);
    EXPECT_TRUE(entry.map.isWhole(11));
}

TEST_F(LocalFileCheck, RecordWinsOverTrailerAndLength)
{
    partialWithTrailer(10);
    ResumeRecord record{path, infoFor(102400), BlockMap::whole(4)};
    record.map.addRange(8, 50); // more than the file holds
    ASSERT_TRUE(store.save(record));
    StreamEntry entry;
    ASSERT_EQ(check(entry), CheckResult::Loaded);
    BlockMap expected = BlockMap::whole(4);
    expected.addRange(8, 10); // 10816 bytes hold blocks 0-9 only
    EXPECT_EQ(entry.map, expected);
    EXPECT_EQ(entry.receivedKb, 6u);

    // A download created but not yet written: partial, not a small file.
    writeFile(path, {});
    ASSERT_EQ(check(entry), CheckResult::Loaded);
    EXPECT_EQ(entry.info.size, 102400u);
    EXPECT_TRUE(entry.map.empty());

    writeFile(store.recordFile(path).string(), {0});
    EXPECT_EQ(check(entry), CheckResult::Missing);
    EXPECT_EQ(checkLocalFileForTask(path, entry, store, true), CheckResult::Unusable);
}

TEST_F(LocalFileCheck, TaskVariant)
{
    StreamEntry entry;
    EXPECT_EQ(checkLocalFileForTask(path, entry, store, true), CheckResult::Missing);
    writeFile(path, pattern(0, 1000));
    EXPECT_EQ(checkLocalFileForTask(path, entry, store, true), CheckResult::Unusable);
    writeFile(path, pattern(0, 5000));
    EXPECT_EQ(checkLocalFileForTask(path, entry, store, false), CheckResult::Unusable);
    EXPECT_TRUE(entry.map.empty());
    ASSERT_EQ(checkLocalFileForTask(path, entry, store, true), CheckResult::Loaded);
    EXPECT_TRUE(entry.map.isWhole(5));
    partialWithTrailer(7);
    ASSERT_EQ(checkLocalFileForTask(path, entry, store, false), CheckResult::Loaded);
    EXPECT_EQ(entry.map, BlockMap::whole(7));
}
