#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "common/file_digest.h"
#include "common/hex.h"

using namespace vandry;

namespace {

class FileDigestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               ("vandry_file_digest_" + std::to_string(::getpid()) + "_" + info->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A fixed pattern of `size` bytes, so the expected digests can be computed by any MD5 tool.
    std::filesystem::path writePattern(const std::string& name, std::size_t size)
    {
        std::vector<char> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * 131 + 7) % 251);
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path dir_;
};

constexpr std::size_t kFiveMiB = 5 * 1024 * 1024;

} // namespace

TEST_F(FileDigestTest, SmallFileIsHashedWhole)
{
    const auto digest = computeFileDigest(writePattern("small", 1000));
    ASSERT_TRUE(digest);
    EXPECT_EQ(fileDigestText(*digest), "e2a5b65421511194b6a50dd3a094c1a7");
    EXPECT_EQ(fileDigestText(computeFileDigest(writePattern("empty", 0)).value()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(FileDigestTest, OnlyTheFirstFiveMiBCount)
{
    const auto exact = computeFileDigest(writePattern("exact", kFiveMiB));
    const auto longer = computeFileDigest(writePattern("longer", kFiveMiB + 1));
    ASSERT_TRUE(exact);
    ASSERT_TRUE(longer);
    EXPECT_EQ(fileDigestText(*exact), "fb510378b6b1584dc9af8a4c0076e4ba");
    EXPECT_EQ(*longer, *exact);
}

TEST_F(FileDigestTest, UnreadableFileGivesNothing)
{
    EXPECT_FALSE(computeFileDigest(dir_ / "missing"));
    EXPECT_FALSE(computeFileDigest(dir_)); // a folder opens but cannot be read
}
