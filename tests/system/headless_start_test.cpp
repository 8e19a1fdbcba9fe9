#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "copy_process.h"

using namespace vandry::testing;

TEST(HeadlessStart, SecondStartOfAHomeActivatesTheFirstAndAnotherHomeRunsBeside)
{
    TestHome home;
    CopyProcess first(home.options(QStringLiteral("A"), QStringLiteral("alice")));
    ASSERT_TRUE(first.waitForOutput(QStringLiteral("state folder:"))) << first.output().toStdString();
    EXPECT_TRUE(first.output().contains(QStringLiteral("nickname: alice")));

    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(runToEnd({QStringLiteral("--headless"), QStringLiteral("--home"), home.path(QStringLiteral("A"))}), 0);
    RecordProperty("second_start_ms", static_cast<int>(elapsed.elapsed()));
    EXPECT_TRUE(first.waitForOutput(QStringLiteral("asked this copy to show itself"))) << first.output().toStdString();

    CopyProcess second(home.options(QStringLiteral("B"), QStringLiteral("bob")));
    ASSERT_TRUE(second.waitForOutput(QStringLiteral("state folder:"))) << second.output().toStdString();
    EXPECT_TRUE(second.output().contains(QStringLiteral("nickname: bob")));

    EXPECT_EQ(first.terminate(), 0);
    EXPECT_EQ(second.terminate(), 0);
    EXPECT_TRUE(first.output().contains(QStringLiteral("stopped")));
}

TEST(HeadlessStart, ProfileValuesPersistAcrossRuns)
{
    TestHome home;
    {
        CopyProcess copy(home.options(QStringLiteral("A"), QStringLiteral("alice")));
        ASSERT_TRUE(copy.waitForOutput(QStringLiteral("state folder:")));
        EXPECT_EQ(copy.terminate(), 0);
    }
    // No profile options this time: the copy starts with what the first run stored.
    CopyProcess again({QStringLiteral("--headless"), QStringLiteral("--home"), home.path(QStringLiteral("A"))});
    ASSERT_TRUE(again.waitForOutput(QStringLiteral("state folder:"))) << again.output().toStdString();
    EXPECT_TRUE(again.output().contains(QStringLiteral("nickname: alice")));
    EXPECT_TRUE(again.output().contains(QStringLiteral("share folder: ") + home.path(QStringLiteral("share-alice/"))));
    EXPECT_EQ(again.terminate(), 0);
}

TEST(HeadlessStart, WithoutAShareFolderItNamesTheMissingSetting)
{
    TestHome home;
    QString output;
    EXPECT_EQ(
        runToEnd({QStringLiteral("--headless"), QStringLiteral("--home"), home.path(QStringLiteral("A"))}, &output), 2);
    EXPECT_TRUE(output.contains(QStringLiteral("UpRoot"))) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("--share")));
}

TEST(CommandLine, VersionAndHandOverArguments)
{
    QString output;
    EXPECT_EQ(runToEnd({QStringLiteral("--version")}, &output), 0);
    EXPECT_EQ(output.trimmed(), QStringLiteral("Vandry v0.9"));
    // An upgrade hand-over runs no copy at all, so it needs no share folder; a target that is not
    // there is not replaced.
    TestHome home;
    EXPECT_EQ(runToEnd({QStringLiteral("--headless"), QStringLiteral("--home"), home.path(QStringLiteral("A")),
                        QStringLiteral("-u"), QStringLiteral("/nowhere/vandry")},
                       &output),
              1);
    EXPECT_TRUE(output.contains(QStringLiteral("upgrade failed"))) << output.toStdString();
    // A bare path is no hand-over: nothing is replaced.
    EXPECT_EQ(runToEnd({QStringLiteral("--headless"), QStringLiteral("/nowhere/vandry")}, &output), 2);
    EXPECT_TRUE(output.contains(QStringLiteral("-u TARGET"))) << output.toStdString();
}
