// The HTTP side on a real loopback server.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

#include "qt_test_main.h"
#include "server/feed_http_server.h"

namespace vandry::testing {
namespace {

class FeedHttpServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        ASSERT_TRUE(QDir(temp.path()).mkdir("files"));
        write(temp.filePath("files/UpFile.exe"), "new version");
        write(temp.filePath("outside.txt"), "secret");
        ASSERT_TRUE(QFile::link(temp.filePath("outside.txt"), temp.filePath("files/link.txt")));
        feed.version = "0.9.0.1";
        feed.upgradeFile = "http://127.0.0.1/UpFile.exe";
        feed.servers = {{0x7F000001, 3333}};
        server = std::make_unique<FeedHttpServer>(feed, temp.filePath("files"),
                                                  [this](const std::string& line) { log.push_back(line); });
        port = server->listen({0x7F000001, 0});
        ASSERT_NE(port, 0);
    }

    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QUrl url(const QString& path) const { return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)); }

    // Status and body of a request through QNetworkAccessManager.
    std::pair<int, QByteArray> fetch(const QString& path, const QByteArray* postBody = nullptr)
    {
        QNetworkRequest request(url(path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        std::unique_ptr<QNetworkReply> reply(postBody ? network.post(request, *postBody) : network.get(request));
        EXPECT_TRUE(runUntil([&] { return reply->isFinished(); }));
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
    }

    // The status line of the answer to a request written byte for byte, so that nothing on the way
    // tidies up its path.
    std::string rawStatusLine(const QByteArray& request)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.write(request);
        QByteArray answer;
        runUntil([&] {
            answer += socket.readAll();
            return answer.contains("\r\n") || socket.state() == QAbstractSocket::UnconnectedState;
        });
        return answer.left(answer.indexOf("\r\n")).toStdString();
    }

    QTemporaryDir temp;
    FeedSettings feed;
    std::vector<std::string> log;
    std::unique_ptr<FeedHttpServer> server;
    quint16 port = 0;
    QNetworkAccessManager network;
};

TEST_F(FeedHttpServerTest, PostOnEveryFeedPathAnswersTheFeedAndIsLogged)
{
    const QByteArray body = "<root><clnt>5F0A-ID</clnt><code>CheckUpdate</code></root>";
    for (const char* path : {"/feed", "/", "/rss/varsyldev.xml"}) {
        const auto [status, answer] = fetch(path, &body);
        EXPECT_EQ(status, 200) << path;
        EXPECT_EQ(answer.toStdString(), buildFeedAnswer(feed)) << path;
        EXPECT_TRUE(answer.contains("<Link>127.0.0.1:3333</Link>"));
    }
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("client 5F0A-ID, code CheckUpdate"), std::string::npos) << log.back();
    EXPECT_EQ(fetch("/elsewhere", &body).first, 404);
}

TEST_F(FeedHttpServerTest, GetServesFilesOfTheFolderAndNothingOutsideIt)
{
    const auto [status, bytes] = fetch("/UpFile.exe");
    EXPECT_EQ(status, 200);
    EXPECT_EQ(bytes, "new version");

    EXPECT_EQ(fetch("/missing.exe").first, 404);
    EXPECT_EQ(fetch("/").first, 404);
    EXPECT_EQ(fetch("/link.txt").first, 404) << "a link that leads out of the folder";
    for (const char* path : {"/../outside.txt", "/%2e%2e/outside.txt", "/files/../../outside.txt", "//etc/passwd"})
        EXPECT_EQ(rawStatusLine(QByteArray("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 404 Not Found")
            << path;
}

TEST_F(FeedHttpServerTest, OversizedRequestIsCutOffUnanswered)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("POST /feed HTTP/1.1\r\nHost: x\r\nContent-Length: 10000000\r\n\r\n");
    socket.write(QByteArray(FeedHttpServer::kMaxRequestBytes * 2, 'x'));
    QByteArray answer;
    EXPECT_TRUE(runUntil(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        std::chrono::seconds(10)));
    EXPECT_TRUE(answer.isEmpty());
}

} // namespace
} // namespace vandry::testing
