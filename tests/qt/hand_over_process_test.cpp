#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "qt/launch.h"
#include "qt/linux_older_process.h"

using namespace vandry;

TEST(HandOverOptions, TheNewCopyLearnsTheOlderProcessAndRelaunchesWithThisRunsOptions)
{
    const auto options = parseLaunchOptions(
        {QStringLiteral("UpFile3.EXE"), QStringLiteral("--headless"), QStringLiteral("--home"), QStringLiteral("/h"),
         QStringLiteral("--nick"), QStringLiteral("bob"), QStringLiteral("--feed"), QStringLiteral("http://f/feed"),
         QStringLiteral("--upload-limit"), QStringLiteral("200"), QStringLiteral("--older-process"),
         QStringLiteral("4242"), QStringLiteral("-u"), QStringLiteral("/opt/my apps/vandry")});
    EXPECT_EQ(options.olderProcess, 4242);
    EXPECT_EQ(options.positional, (QStringList{QStringLiteral("-u"), QStringLiteral("/opt/my apps/vandry")}));
    // The nickname is in the profile already; the hand-over's own arguments are not passed on.
    EXPECT_EQ(relaunchArguments(options),
              (QStringList{QStringLiteral("--headless"), QStringLiteral("--home"), QStringLiteral("/h"),
                           QStringLiteral("--feed"), QStringLiteral("http://f/feed"), QStringLiteral("--upload-limit"),
                           QStringLiteral("200")}));
    EXPECT_FALSE(parseLaunchOptions({QStringLiteral("v"), QStringLiteral("--older-process"), QStringLiteral("x")})
                     .olderProcess.has_value());
}

TEST(LinuxOlderProcess, WatchesOnlyAProcessOfTheTargetExecutableAndEndsIt)
{
    const QString sleep = QFileInfo(QStandardPaths::findExecutable(QStringLiteral("sleep"))).canonicalFilePath();
    ASSERT_FALSE(sleep.isEmpty());
    QProcess child;
    child.start(sleep, {QStringLiteral("30")});
    ASSERT_TRUE(child.waitForStarted());

    EXPECT_EQ(LinuxOlderProcess::open(child.processId(), QStringLiteral("/nonexistent/vandry")), nullptr);
    const auto older = LinuxOlderProcess::open(child.processId(), sleep);
    ASSERT_NE(older, nullptr);
    EXPECT_TRUE(older->running());
    older->terminate();
    EXPECT_FALSE(older->running());
    EXPECT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(LinuxOlderProcess::open(child.processId(), sleep), nullptr);
}
