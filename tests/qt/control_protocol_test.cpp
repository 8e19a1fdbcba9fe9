#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "fake_copy.h"
#include "fake_window_host.h"
#include "qt/control_client.h"
#include "qt/control_protocol.h"
#include "store/share_hash_table.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
struct ControlProtocolTest : ::testing::Test {
    ControlProtocolTest()
    {
        fake.copy.refreshLocalRecord();
        fake.copy.loadSettings();
        model.start();
    }
    QJsonObject ask(const QByteArray& line)
    {
        return QJsonDocument::fromJson(answerControlRequest(commands, line)).object();
    }
    FakeCopy fake;
    EventLog log;
    FakeWindowHost host;
    NoFileInfo noFileInfo;
    ShareHashTable hashes{noFileInfo, [] { return std::string(); }};
    MainWindowModel model{fake.copy, log, host, hashes};
    int quits = 0;
    CopyCommands commands{fake.copy, model, [this] { ++quits; }};
};
} // namespace

TEST_F(ControlProtocolTest, StatusAndNeighboursDescribeTheCopy)
{
    const QJsonObject status = ask(R"({"cmd":"status"})");
    EXPECT_TRUE(status["ok"].toBool());
    EXPECT_EQ(status["nickname"].toString(), QStringLiteral("tester"));
    EXPECT_EQ(status["primary_lan"].toString(), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(status["best_server"].toString(), QStringLiteral("none"));
    EXPECT_EQ(status["share"].toString(), QStringLiteral("/share/"));

    const QJsonObject neighbours = ask(R"({"cmd":"neighbours"})");
    ASSERT_EQ(neighbours["neighbours"].toArray().size(), 1);
    EXPECT_EQ(neighbours["neighbours"][0]["nickname"].toString(), QStringLiteral("tester"));
    EXPECT_EQ(renderControlAnswer(QStringLiteral("neighbours"), neighbours),
              neighbours["neighbours"][0]["identity"].toString() + QStringLiteral(" tester"));
}

TEST(ControlRendering, NamesFromOtherMachinesCannotDriveTheTerminal)
{
    QJsonObject answer{{QStringLiteral("ok"), true}};
    answer[QStringLiteral("neighbours")] =
        QJsonArray{QJsonObject{{QStringLiteral("identity"), QStringLiteral("ab")},
                               {QStringLiteral("nickname"), QStringLiteral("\x1b[2Jevil\r\nline")}}};
    EXPECT_EQ(renderControlAnswer(QStringLiteral("neighbours"), answer),
              QStringLiteral("ab \\x1B[2Jevil\\x0D\\x0Aline"));
}

TEST_F(ControlProtocolTest, AnnounceNeedsAServerAndQuitRunsTheStop)
{
    EXPECT_FALSE(ask(R"({"cmd":"announce"})")["ok"].toBool());
    EXPECT_TRUE(host.announces.empty());
    fake.copy.settings().servers.setEntry(0, "10.0.0.1", 3333);
    fake.copy.settings().servers.offerBest(0);
    EXPECT_TRUE(ask(R"({"cmd":"announce"})")["ok"].toBool());
    EXPECT_EQ(host.announces, (std::vector<std::uint8_t>{1}));
    EXPECT_EQ(ask(R"({"cmd":"status"})")["best_server"].toString(), QStringLiteral("10.0.0.1:3333"));
    EXPECT_TRUE(ask(R"({"cmd":"quit"})")["ok"].toBool());
    EXPECT_EQ(quits, 1);
}

TEST_F(ControlProtocolTest, MalformedRequestsGetAnErrorAnswer)
{
    for (const QByteArray& line : {QByteArray("not json"), QByteArray("[1,2]"), QByteArray(R"({"cmd":"format-disk"})"),
                                   QByteArray(R"({"cmd":7})"), QByteArray()}) {
        const QJsonObject answer = ask(line);
        EXPECT_FALSE(answer["ok"].toBool()) << line.constData();
        EXPECT_FALSE(answer["error"].toString().isEmpty());
        EXPECT_TRUE(renderControlAnswer(QStringLiteral("status"), answer).startsWith(QStringLiteral("error: ")));
    }
}
