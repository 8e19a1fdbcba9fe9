#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "update/executable_replacement.h"
#include "update/older_process_wait.h"

using namespace vandry;
namespace fs = std::filesystem;

namespace {
class FakeOlder final : public OlderProcess {
public:
    explicit FakeOlder(int endsAfterChecks) : endsAfter_(endsAfterChecks) {}
    bool running() override { return !ended_ && ++checks_ <= endsAfter_; }
    void terminate() override
    {
        ++terminations;
        ended_ = true;
    }
    int terminations = 0;

private:
    int endsAfter_;
    int checks_ = 0;
    bool ended_ = false;
};

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

mode_t modeOf(const fs::path& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

class ReplacementTest : public ::testing::Test {
protected:
    ReplacementTest()
    {
        dir_ = fs::temp_directory_path() / ("vandry-replace-" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "install");
        std::ofstream(target(), std::ios::binary) << "old executable";
        ::chmod(target().c_str(), 0751);
        std::ofstream(source(), std::ios::binary) << "the new release, longer than the old one";
    }
    ~ReplacementTest() override
    {
        ::chmod((dir_ / "install").c_str(), 0755);
        fs::remove_all(dir_);
    }
    fs::path target() const { return dir_ / "install" / "vandry"; }
    fs::path source() const { return dir_ / "UpFile3.EXE"; }
    std::size_t filesInInstall() const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_ / "install"), {}));
    }

    fs::path dir_;
};
} // namespace

TEST(OlderProcessWait, EndsAsSoonAsTheOlderCopyIsGone)
{
    FakeOlder older(2);
    OlderProcessWait wait(&older);
    EXPECT_FALSE(wait.tick());
    EXPECT_FALSE(wait.tick());
    EXPECT_TRUE(wait.tick());
    EXPECT_EQ(older.terminations, 0);
    EXPECT_FALSE(wait.terminated());

    OlderProcessWait none(nullptr);
    EXPECT_TRUE(none.tick());
}

TEST(OlderProcessWait, EndsAnOlderCopyStillRunningOnTheSixthTickOnce)
{
    FakeOlder older(1000);
    OlderProcessWait wait(&older);
    for (int tick = 1; tick < kHandOverWaitTicks; ++tick)
        EXPECT_FALSE(wait.tick()) << tick;
    EXPECT_TRUE(wait.tick());
    EXPECT_TRUE(wait.tick());
    EXPECT_EQ(older.terminations, 1);
    EXPECT_TRUE(wait.terminated());
}

TEST_F(ReplacementTest, ReplacesTheTargetWithTheSourceKeepingItsModeAndLeavingNothingBeside)
{
    const ReplaceResult result = replaceExecutable(source(), target());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(contents(target()), contents(source()));
    EXPECT_EQ(modeOf(target()), 0751u);
    EXPECT_EQ(filesInInstall(), 1u);
}

TEST_F(ReplacementTest, AFailedReplacementLeavesTheTargetAsItWas)
{
    EXPECT_FALSE(replaceExecutable(dir_ / "missing", target()).ok);
    EXPECT_EQ(contents(target()), "old executable");
    EXPECT_EQ(filesInInstall(), 1u);
    EXPECT_FALSE(replaceExecutable(source(), dir_ / "install" / "missing").ok);
    EXPECT_EQ(filesInInstall(), 1u);
    ::chmod(target().c_str(), 0644);
    EXPECT_FALSE(replaceExecutable(source(), target()).ok);
    EXPECT_EQ(contents(target()), "old executable");
}

TEST_F(ReplacementTest, TellsWhyAnExecutableCannotBeReplaced)
{
    EXPECT_EQ(replaceBlockFor(target()), ReplaceBlock::None);
    EXPECT_EQ(replaceBlockFor(dir_ / "install" / "missing"), ReplaceBlock::NotAFile);
    EXPECT_EQ(replaceBlockFor(dir_ / "install"), ReplaceBlock::NotAFile);
    if (fs::is_regular_file("/usr/bin/env")) {
        EXPECT_EQ(replaceBlockFor("/usr/bin/env"), ReplaceBlock::PackageManaged);
    }
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write a read-only folder";
    ::chmod((dir_ / "install").c_str(), 0555);
    EXPECT_EQ(replaceBlockFor(target()), ReplaceBlock::FolderNotWritable);
    EXPECT_FALSE(replaceExecutable(source(), target()).ok);
    EXPECT_EQ(contents(target()), "old executable");
}
