#include <gtest/gtest.h>

#include "link/share_path.h"
#include "scratch_folder.h"

using namespace vandry;
using namespace vandry::testing;
namespace fs = std::filesystem;

namespace {

class SharePathTest : public ::testing::Test {
protected:
    SharePathTest()
    {
        fs::create_directories(share / "sub");
        fs::create_directories(outside);
        writeFile((share / "sub" / "a.bin").string(), pattern(0, 10));
        writeFile((outside / "secret.bin").string(), pattern(0, 10));
        fs::create_symlink(outside, share / "escape");
        fs::create_symlink(share / "sub" / "a.bin", share / "alias.bin");
    }
    std::string canonical(const fs::path& path) const { return fs::canonical(path).string(); }

    ScratchFolder scratch;
    fs::path share = scratch.path() / "share";
    fs::path outside = scratch.path() / "outside";
};

TEST_F(SharePathTest, WirePathsConvertInOnePlace)
{
    EXPECT_EQ(wireToLocalPath("\\sub\\\\a.bin"), "/sub/a.bin");
    EXPECT_EQ(localToWirePath("/sub/a.bin"), "\\sub\\a.bin");
    EXPECT_TRUE(wirePathIsFull("/home/a.bin"));
    EXPECT_FALSE(wirePathIsFull("\\a.bin"));
}

TEST_F(SharePathTest, SharedFilesResolveInsideTheShareOnly)
{
    const auto expected = canonical(share / "sub" / "a.bin");
    EXPECT_EQ(resolveSharedFile("\\sub\\a.bin", share.string()).path, expected);
    EXPECT_EQ(resolveSharedFile(expected, share.string()).path, expected);
    // A link that stays inside the share is followed.
    EXPECT_EQ(resolveSharedFile("\\alias.bin", share.string()).path, expected);

    const auto secret = (outside / "secret.bin").string();
    for (const std::string wire : {"\\..\\outside\\secret.bin", "\\escape\\secret.bin", secret.c_str(),
                                   "\\..\\outside\\missing.bin", "\\sub\\..\\..\\outside\\secret.bin"})
        EXPECT_EQ(resolveSharedFile(wire, share.string()).error, std::errc::permission_denied) << wire;
    EXPECT_EQ(resolveSharedFile("\\missing.bin", share.string()).error, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(resolveSharedFile("\\sub", share.string()).ok());
    EXPECT_EQ(resolveSharedFile("\\sub\\a.bin", "").error, std::errc::permission_denied);
}

TEST_F(SharePathTest, DownloadsGoWhereThisSideChoseButNeverThroughDotsOrDanglingLinks)
{
    const auto root = scratch.path() / "down";
    const auto target = resolveDownloadFile((root / "new" / "deeper" / "f.bin").string());
    ASSERT_TRUE(target.ok());
    EXPECT_EQ(target.path, (root / "new" / "deeper" / "f.bin").string());
    ensureDirectories(target.path);
    EXPECT_TRUE(fs::is_directory(root / "new" / "deeper"));
    // A place the user picked outside the download folder is the user's choice.
    EXPECT_EQ(resolveDownloadFile((outside / "f.bin").string()).path, canonical(outside) + "/f.bin");

    fs::create_symlink(outside / "nowhere.bin", root / "dangling.bin");
    for (const auto& local : {root / ".." / "outside" / "f.bin", root / "dangling.bin", root / "..", root / ".",
                              root / "", fs::path("relative/f.bin")})
        EXPECT_EQ(resolveDownloadFile(local.string()).error, std::errc::permission_denied) << local;
    EXPECT_FALSE(fs::exists(outside / "nowhere.bin"));
}

} // namespace
