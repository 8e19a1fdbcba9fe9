#include <gtest/gtest.h>

#include "copy_process.h"

using namespace vandry::testing;

namespace {
int vandryctl(const QString& home, const QStringList& words, QString* output)
{
    return runProgram(QStringLiteral(VANDRYCTL_BINARY), QStringList{QStringLiteral("--home"), home} + words, output);
}
} // namespace

TEST(Vandryctl, DrivesARunningHeadlessCopy)
{
    TestHome home;
    CopyProcess copy(home.options(QStringLiteral("A"), QStringLiteral("alice")));
    ASSERT_TRUE(copy.waitForOutput(QStringLiteral("state folder:"))) << copy.output().toStdString();
    const QString dir = home.path(QStringLiteral("A"));

    QString output;
    EXPECT_EQ(vandryctl(dir, {QStringLiteral("status")}, &output), 0);
    EXPECT_TRUE(output.contains(QStringLiteral("nickname: alice"))) << output.toStdString();
    EXPECT_EQ(vandryctl(dir, {QStringLiteral("neighbours")}, &output), 0);
    EXPECT_TRUE(output.trimmed().endsWith(QStringLiteral(" alice"))) << output.toStdString();
    EXPECT_EQ(vandryctl(dir, {QStringLiteral("--json"), QStringLiteral("status")}, &output), 0);
    EXPECT_TRUE(output.startsWith(QStringLiteral("{"))) << output.toStdString();
    EXPECT_EQ(vandryctl(dir, {QStringLiteral("announce")}, &output), 1); // no server in this test
    EXPECT_EQ(vandryctl(dir, {QStringLiteral("quit")}, &output), 0);
    EXPECT_TRUE(copy.waitForExit());
    EXPECT_TRUE(copy.output().contains(QStringLiteral("stopped")));

    EXPECT_EQ(vandryctl(dir, {QStringLiteral("status")}, &output), 1);
    EXPECT_TRUE(output.contains(QStringLiteral("no running copy"))) << output.toStdString();
}
