#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "common/file_digest.h"
#include "common/hex.h"
#include "common/md5.h"
#include "file_info_fakes.h"
#include "scratch_folder.h"
#include "store/share_hash_table.h"

using namespace vandry;
using vandry::testing::CannedFileInfo;
using vandry::testing::CountingFileInfo;
using vandry::testing::ScratchFolder;

namespace {

const std::string kDigestA = "0123456789abcdef0123456789abcdef";
const std::string kDigestB = "fedcba9876543210fedcba9876543210";

std::string text(const std::string& path)
{
    const auto bytes = vandry::testing::readFile(path);
    return {bytes.begin(), bytes.end()};
}

void writeText(const std::string& path, const std::string& content)
{
    vandry::testing::writeFile(path, {content.begin(), content.end()});
}

void setModified(const std::string& path, std::time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

FileKey keyFor(const std::string& digestHex, std::uint32_t size)
{
    FileKey key{};
    const auto digest = hexDecode(digestHex, 16);
    std::copy(digest->begin(), digest->end(), key.begin());
    for (int i = 0; i < 4; ++i)
        key[16 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    return key;
}

} // namespace

TEST(ShareHashTable, ReadsPaddedLinesAndSkipsMalformedOnes)
{
    ScratchFolder scratch;
    CannedFileInfo info;
    const auto file = scratch.file("Table.hash");
    const std::string good = kDigestA + "   1F400      3E8 /share/film.mkv";
    writeText(file, "V1\r\n" + good + "\r\n" + kDigestB + "      10       20 " + "\r\n" +  // 50 characters: no path
                        "0123456789abcdef0123456789abcdeX      10       20 /share/x\r\n" + // digest not hex
                        kDigestB + "      1G       20 /share/y\r\n" +                      // size not hex
                        kDigestB + "       0       20 /share/z\r\n" +                      // size 0: a free slot
                        kDigestB + "      10       20 share/relative\r\n" + kDigestB + "     7D0        5 /share/b\n");
    ShareHashTable table(info, [] { return std::string("/share"); });
    table.load(file);
    EXPECT_EQ(table.entryCount(), 2u);
    EXPECT_EQ(table.sizeForPath("/share/film.mkv"), 0x1F400u);
    EXPECT_EQ(table.sizeForPath("/share/b"), 0x7D0u);
    EXPECT_FALSE(table.sizeForPath("/share/FILM.mkv")) << "paths compare exactly";

    std::filesystem::remove(file);
    table.save(file);
    EXPECT_EQ(text(file), "V1\r\n" + good + "\r\n" + kDigestB + "     7D0        5 /share/b\r\n");
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));

    writeText(file, "V0\r\n" + good + "\r\n");
    table.load(file);
    EXPECT_EQ(table.entryCount(), 0u) << "an older version loads nothing";
}

TEST(ShareHashTable, OnePathPerDigestAndFullTableRefuses)
{
    CannedFileInfo info;
    ShareHashTable table(info, [] { return std::string("/share"); });
    table.storeDigest("/share/one.bin", kDigestA, 2000);
    table.storeDigest("/share/two.bin", kDigestA, 2000);
    EXPECT_FALSE(table.sizeForPath("/share/one.bin"));
    EXPECT_EQ(table.sizeForPath("/share/two.bin"), 2000u);
    table.storeDigest("relative.bin", kDigestB, 10);
    table.storeDigest("/share/empty.bin", kDigestB, 0);
    table.storeDigest("/share/bad.bin", "not hex at all, not hex at all!!", 10);
    EXPECT_EQ(table.entryCount(), 1u);

    for (std::uint32_t i = 1; table.entryCount() < ShareHashTable::kSlots; ++i)
        table.storeDigest("/share/f" + std::to_string(i), hexEncode(md5(asBytes(std::to_string(i)))), i);
    table.storeDigest("/share/late", kDigestB, 10);
    EXPECT_EQ(table.entryCount(), ShareHashTable::kSlots);
    EXPECT_FALSE(table.sizeForPath("/share/late"));
    EXPECT_EQ(table.sizeForPath("/share/f5"), 5u) << "lookups keep working";
}

TEST(ShareHashTable, ReloadedEntriesAreCheckedAgainstTheDisk)
{
    ScratchFolder scratch;
    CountingFileInfo info(scratch.path() / "resume");
    const auto tableFile = scratch.file("Table.hash");
    const auto film = scratch.file("film.bin");
    const auto content = vandry::testing::pattern(0, 3000);
    vandry::testing::writeFile(film, content);
    const auto digest = md5(content);
    {
        ShareHashTable table(info, [] { return std::string(); });
        table.storeDigest(film, hexEncode(digest), 3000);
        table.save(tableFile);
    }
    ShareHashTable table(info, [] { return std::string(); });
    table.load(tableFile);
    // Stored without a time, so the first check recomputes once and then trusts it.
    EXPECT_EQ(table.digestForPath(film), (DigestAndSize{digest, 3000}));
    EXPECT_EQ(info.computeCalls, 1);
    EXPECT_EQ(table.digestForPath(film), (DigestAndSize{digest, 3000}));
    EXPECT_EQ(info.computeCalls, 1);

    // Touched: same content, new time; recomputed once and saved with the new time.
    setModified(film, 0x12345678);
    table.save(tableFile);
    table.load(tableFile);
    EXPECT_TRUE(table.digestForPath(film));
    EXPECT_EQ(info.computeCalls, 2);
    table.save(tableFile);
    EXPECT_NE(text(tableFile).find("12345678 " + film), std::string::npos);
    table.load(tableFile);
    EXPECT_TRUE(table.digestForPath(film));
    EXPECT_EQ(info.computeCalls, 2) << "same size and time need no digest";

    // Grown: invalid, not answered without computing, and dropped at the next save.
    vandry::testing::writeFile(film, vandry::testing::pattern(0, 4000));
    table.load(tableFile);
    EXPECT_FALSE(table.digestForPath(film));
    EXPECT_FALSE(table.sizeForPath(film));
    table.storeDigest("/elsewhere/keep.bin", kDigestB, 10);
    table.save(tableFile);
    EXPECT_EQ(text(tableFile).find(film), std::string::npos);
}

TEST(ShareHashTable, PathForKeyOffersOnlyFilesInsideTheShare)
{
    CannedFileInfo info;
    std::string root = "/share";
    ShareHashTable table(info, [&] { return root; });
    table.storeDigest("/share2/film.mkv", kDigestA, 3000);
    table.storeDigest("/share/sub/song.mp3", kDigestB, 4000);
    table.storeDigest("/share/../etc/secret", hexEncode(md5(asBytes("s"))), 10);

    EXPECT_EQ(table.pathForKey(keyFor(kDigestA, 3000)), "") << "/share2 is not inside /share";
    EXPECT_TRUE(table.digestForPath("/share2/film.mkv")) << "still known by path";
    EXPECT_EQ(table.pathForKey(keyFor(kDigestB, 4000)), "/share/sub/song.mp3");
    EXPECT_EQ(table.pathForKey(keyFor(kDigestB, 4001)), "") << "the size is part of the key";
    EXPECT_EQ(table.pathForKey(keyFor(hexEncode(md5(asBytes("s"))), 10)), "");
    root = "/share/";
    EXPECT_EQ(table.pathForKey(keyFor(kDigestB, 4000)), "/share/sub/song.mp3");
    root = "";
    EXPECT_EQ(table.pathForKey(keyFor(kDigestB, 4000)), "") << "no share, nothing offered";
}

TEST(ShareHashTable, EmptyTableLeavesOldFileAndLineBreaksAreNotSaved)
{
    ScratchFolder scratch;
    CannedFileInfo info;
    const auto tableFile = scratch.file("Table.hash");
    writeText(tableFile, "old");
    ShareHashTable table(info, [] { return std::string(); });
    table.save(tableFile);
    EXPECT_EQ(text(tableFile), "old");

    table.storeDigest("/share/two\nlines", kDigestA, 10);
    table.storeDigest("/share/plain", kDigestB, 10);
    table.save(tableFile);
    EXPECT_EQ(text(tableFile), "V1\r\n" + kDigestB + "       A        0 /share/plain\r\n");
}

TEST(ShareHashTable, FallsBackToTheFileInformation)
{
    CannedFileInfo info;
    ShareHashTable table(info, [] { return std::string(); });
    FileInfoBlock partial;
    partial.setDigest(kDigestA);
    partial.describe(5ull << 30);
    info.answers["/dl/big.iso"] = partial;
    info.answers["/dl/unknown.iso"] = FileInfoBlock{};

    const auto found = table.digestForPath("/dl/big.iso");
    ASSERT_TRUE(found);
    EXPECT_EQ(hexEncode(found->digest), kDigestA);
    EXPECT_EQ(found->size, 5ull << 30) << "the full 64-bit size";
    EXPECT_FALSE(table.digestForPath("/dl/unknown.iso")) << "no digest text, no answer";
    EXPECT_FALSE(table.digestForPath("/dl/none"));
}
