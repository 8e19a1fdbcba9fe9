#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QHostInfo>
#include <QLocalSocket>
#include <QTemporaryDir>

#include "qt/instance_guard.h"
#include "qt_test_main.h"

using namespace vandry;

TEST(InstanceGuard, SecondGuardOfTheSameHomeActivatesTheFirst)
{
    QTemporaryDir dir;
    const HomePaths home = HomePaths::forHome(dir.path() + QStringLiteral("/home"));
    InstanceGuard first(home);
    ASSERT_EQ(first.acquire(), InstanceGuard::Outcome::Acquired) << first.errorText().toStdString();
    int activations = 0;
    QObject::connect(&first, &InstanceGuard::activationRequested, [&] { ++activations; });

    InstanceGuard second(home);
    EXPECT_EQ(second.acquire(), InstanceGuard::Outcome::OtherCopyRunning);
    EXPECT_TRUE(vandry::testing::runUntil([&] { return activations == 1; }));

    InstanceGuard otherHome(HomePaths::forHome(dir.path() + QStringLiteral("/other")));
    EXPECT_EQ(otherHome.acquire(), InstanceGuard::Outcome::Acquired);
}

TEST(InstanceGuard, LeftoversOfACrashedCopyDoNotBlockANewStart)
{
    QTemporaryDir dir;
    const HomePaths home = HomePaths::forHome(dir.path() + QStringLiteral("/home"));
    {
        // A lock naming a process that no longer runs, and a socket file nobody listens on.
        QFile lock(home.instanceLockPath());
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write("2147480000\nvandry\n" + QHostInfo::localHostName().toUtf8() + "\n");
        QFile socket(home.controlSocketPath());
        ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
    }
    InstanceGuard guard(home);
    EXPECT_EQ(guard.acquire(), InstanceGuard::Outcome::Acquired) << guard.errorText().toStdString();
}

TEST(InstanceGuard, RequestLinesAreAnsweredAndAreNoActivation)
{
    QTemporaryDir dir;
    const HomePaths home = HomePaths::forHome(dir.path());
    InstanceGuard guard(home);
    ASSERT_EQ(guard.acquire(), InstanceGuard::Outcome::Acquired);
    int activations = 0;
    QObject::connect(&guard, &InstanceGuard::activationRequested, [&] { ++activations; });
    guard.setRequestHandler([](const QByteArray& line, ControlConnection::Reply reply) { reply("echo:" + line); });

    QLocalSocket client;
    client.connectToServer(home.controlSocketPath());
    ASSERT_TRUE(client.waitForConnected(1000));
    client.write("NOPE\nsecond");
    client.write(" line\n");
    QByteArray answers;
    EXPECT_TRUE(vandry::testing::runUntil([&] {
        answers += client.readAll();
        return answers.count('\n') == 2;
    }));
    EXPECT_EQ(answers, QByteArray("echo:NOPE\necho:second line\n"));
    EXPECT_EQ(activations, 0);
}

TEST(InstanceGuard, OverlongRequestLineClosesTheConnection)
{
    QTemporaryDir dir;
    const HomePaths home = HomePaths::forHome(dir.path());
    InstanceGuard guard(home);
    ASSERT_EQ(guard.acquire(), InstanceGuard::Outcome::Acquired);
    QLocalSocket client;
    client.connectToServer(home.controlSocketPath());
    ASSERT_TRUE(client.waitForConnected(1000));
    bool disconnected = false;
    QObject::connect(&client, &QLocalSocket::disconnected, [&] { disconnected = true; });
    client.write(QByteArray(kMaxControlLine + 10, 'x'));
    EXPECT_TRUE(vandry::testing::runUntil([&] { return disconnected; }));
}
