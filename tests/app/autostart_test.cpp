#include <gtest/gtest.h>

#include <fstream>

#include "app/autostart.h"

using namespace vandry;
namespace fs = std::filesystem;

namespace {
struct AutostartTest : ::testing::Test {
    static fs::path freshRoot()
    {
        auto dir = fs::temp_directory_path() /
                   ("vandry-autostart-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir / "system");
        return dir;
    }
    ~AutostartTest() override { fs::remove_all(root); }
    void writeSystemEntry(const std::string& text) { std::ofstream(root / "system" / kAutostartEntryName) << text; }

    fs::path root = freshRoot();
    XdgAutostart autostart{root / "system", root / "user"};
};
} // namespace

TEST_F(AutostartTest, SystemEntryCountsOnlyWhenItNamesThisExecutable)
{
    EXPECT_FALSE(autostart.enabledSystemWide("/usr/bin/vandry"));
    writeSystemEntry("[Desktop Entry]\nType=Application\nExec=/USR/bin/Vandry\n");
    EXPECT_TRUE(autostart.enabledSystemWide("/usr/bin/vandry"));
    EXPECT_FALSE(autostart.enabledSystemWide("/opt/vandry"));
    writeSystemEntry("[Other]\nExec=/usr/bin/vandry\n");
    EXPECT_FALSE(autostart.enabledSystemWide("/usr/bin/vandry"));
}

TEST_F(AutostartTest, UserEntryIsWrittenQuotedAndRemoved)
{
    ASSERT_TRUE(autostart.setForUser(true, "/home/u/my apps/vandry"));
    const auto entry = root / "user" / kAutostartEntryName;
    std::ifstream in(entry);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(desktopEntryExec(text), "/home/u/my apps/vandry");
    ASSERT_TRUE(autostart.setForUser(false, "/home/u/my apps/vandry"));
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_TRUE(autostart.setForUser(false, "/x")); // removing a missing entry is fine
}

TEST(DesktopEntryExec, ReadsQuotedAndPlainValues)
{
    EXPECT_EQ(desktopEntryExec("[Desktop Entry]\r\nExec=\"/a \\\"b\\\"\" -x\r\n"), "/a \"b\"");
    EXPECT_EQ(desktopEntryExec("[Desktop Entry]\nName=x\n"), "");
    EXPECT_EQ(desktopEntryExec("Exec=/before/any/group\n"), "");
}
