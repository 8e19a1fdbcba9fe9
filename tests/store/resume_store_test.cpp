#include <gtest/gtest.h>

#include "common/hex.h"
#include "common/md5.h"
#include "scratch_folder.h"
#include "store/resume_store.h"

using namespace vandry;
using vandry::testing::ScratchFolder;

namespace {

ResumeRecord sampleRecord(const std::string& path)
{
    ResumeRecord record;
    record.path = path;
    record.info.setDigest("00112233445566778899aabbccddeeff");
    record.info.describe(5ull << 30);
    record.map.addRange(0, 10);
    record.map.addRange(4000000, 4000004);
    return record;
}

} // namespace

TEST(ResumeRecord, RoundTripsAndEveryDamageIsDetected)
{
    const auto record = sampleRecord("/home/user/Downloads/film.mkv");
    const auto bytes = encodeResumeRecord(record);
    ASSERT_EQ(bytes.size(), 8 + record.path.size() + 56 + 2 + 16 + 16);
    EXPECT_EQ(parseResumeRecord(bytes), record);
    for (std::size_t n = 0; n < bytes.size(); ++n)
        ASSERT_FALSE(parseResumeRecord(std::span(bytes).first(n))) << "cut at " << n;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        auto flipped = bytes;
        flipped[at] ^= 0x40;
        ASSERT_FALSE(parseResumeRecord(flipped)) << "byte " << at;
    }
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(parseResumeRecord(longer));
}

TEST(ResumeStore, SavesLoadsAndRemovesAtomically)
{
    ScratchFolder scratch;
    ResumeStore store(scratch.path() / "state" / "resume"); // created on the first save
    const auto record = sampleRecord(scratch.file("film.mkv"));
    EXPECT_EQ(store.load(record.path).status, ResumeStore::Status::None);
    ASSERT_TRUE(store.save(record));

    const auto file = store.recordFile(record.path);
    EXPECT_EQ(file.filename().string(), hexEncode(md5(asBytes(record.path))) + ".resume");
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path()))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u) << "a temporary file was left behind";

    auto replaced = record;
    replaced.map.addRange(10, 20);
    ASSERT_TRUE(store.save(replaced));
    const auto loaded = store.load(record.path);
    EXPECT_EQ(loaded.status, ResumeStore::Status::Found);
    EXPECT_EQ(loaded.record, replaced);

    EXPECT_TRUE(store.remove(record.path));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(store.remove(record.path));
}

TEST(ResumeStore, DamagedAndForeignRecords)
{
    ScratchFolder scratch;
    ResumeStore store(scratch.path());
    const auto mine = scratch.file("a.bin");
    const auto other = scratch.file("b.bin");
    ASSERT_TRUE(store.save(sampleRecord(other)));
    // A record of another path under this path's name says nothing about this path.
    std::filesystem::rename(store.recordFile(other), store.recordFile(mine));
    EXPECT_EQ(store.load(mine).status, ResumeStore::Status::None);

    vandry::testing::writeFile(store.recordFile(mine).string(), {1, 2, 3});
    EXPECT_EQ(store.load(mine).status, ResumeStore::Status::Damaged);
    vandry::testing::writeFile(store.recordFile(mine).string(), std::vector<std::uint8_t>(kMaxRecordSize + 1, 0));
    EXPECT_EQ(store.load(mine).status, ResumeStore::Status::Damaged);
}

TEST(ResumeStore, SavesOnTheWorkerKeepTheirOrderAndEveryOtherCallWaitsForThem)
{
    ScratchFolder scratch;
    ResumeStore store(scratch.path() / "resume", SerialWorker::Mode::Thread);
    const std::string path = scratch.file("film.mkv");
    auto data = PosixFile::open(path, PosixFile::Mode::ReadWrite);
    ASSERT_TRUE(data.isOpen());
    auto record = sampleRecord(path);
    for (std::uint32_t end = 20; end <= 400; end += 20) {
        record.map.addRange(0, end);
        ASSERT_TRUE(store.saveAfterSync(data, record));
    }
    // The data file may close at once: the worker syncs through a descriptor of its own.
    data.close();
    EXPECT_EQ(store.load(path).record, record);

    ASSERT_TRUE(store.saveAfterSync(PosixFile::open(path, PosixFile::Mode::Read), record));
    EXPECT_TRUE(store.remove(path));
    EXPECT_EQ(store.load(path).status, ResumeStore::Status::None);
    EXPECT_FALSE(store.saveAfterSync(PosixFile{}, record));
}
