#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <map>
#include <vector>

#include "qt/cloud_link.h"
#include "qt_test_main.h"

using namespace vandry;
using vandry::testing::runUntil;

namespace {

const HostIdentity kIdentity{0x00, 0x00, 0x09, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// An HTTP/1.1 server on loopback answering every request with `status` and `body`, then closing.
// It keeps each request whole: request line, headers and body.
class FeedServer {
public:
    FeedServer(QByteArray status, QByteArray body)
    {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost));
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this, status, body] {
            QTcpSocket* socket = server_.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, status, body] {
                QByteArray& request = partial_[socket];
                request += socket->readAll();
                const auto headerEnd = request.indexOf("\r\n\r\n");
                const auto length = request.mid(request.toLower().indexOf("content-length:") + 15).split('\r')[0];
                if (headerEnd < 0 || request.size() < headerEnd + 4 + length.trimmed().toInt())
                    return;
                requests.push_back(request);
                socket->write(status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        });
    }
    std::string url(const char* path) const
    {
        return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + path;
    }
    std::vector<QByteArray> requests;

private:
    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> partial_;
};

struct Reports {
    explicit Reports(CCloudLink& link)
    {
        QObject::connect(&link, &CCloudLink::serverProbeRequested, &context, [this] {
            ++probes;
            onMainThread = onMainThread && QThread::currentThread() == context.thread();
        });
        QObject::connect(&link, &CCloudLink::upgradeAvailable, &context,
                         [this](const UpgradeOffer& offer) { offers.push_back(offer); });
    }
    QObject context;
    int probes = 0;
    bool onMainThread = true;
    std::vector<UpgradeOffer> offers;
};

} // namespace

TEST(CloudLink, FeedAnswerOverHttpSetsTheServerListAndQueuedChecksFollow)
{
    FeedServer feed("HTTP/1.1 200 OK", "<?xml version=\"1.0\"?><root><Ver>255.0.0.0</Ver>"
                                       "<UpFile>http://127.0.0.1/new</UpFile><Link>127.0.0.1:3333</Link></root>");
    ServerList servers;
    CCloudLink link({feed.url("/feed"), feed.url("/rss/varsyldev.xml"), "localhost"}, kIdentity, servers, {});
    Reports reports(link);
    link.start();

    ASSERT_TRUE(runUntil([&] { return reports.probes == 1 && reports.offers.size() == 1; }));
    EXPECT_TRUE(reports.onMainThread);
    EXPECT_EQ(servers.entry(0), (ServerList::Entry{"127.0.0.1", 3333}));
    EXPECT_EQ(reports.offers[0].fileUrl, "http://127.0.0.1/new");
    ASSERT_EQ(feed.requests.size(), 1u);
    EXPECT_TRUE(feed.requests[0].startsWith("POST /feed HTTP/1.1\r\n"));
    EXPECT_TRUE(feed.requests[0].contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"));
    EXPECT_TRUE(feed.requests[0].endsWith("\r\n\r\n<root><clnt>" + QByteArray::fromStdString(identityText(kIdentity)) +
                                          "</clnt><code>CheckUpdate</code></root>"));

    link.check();
    ASSERT_TRUE(runUntil([&] { return reports.probes == 2; }));
    ASSERT_EQ(feed.requests.size(), 2u);
    EXPECT_TRUE(feed.requests[1].endsWith("<code>CheckUpdates</code></root>"));
}

TEST(CloudLink, NotFoundIsAFailureThatFallsBackOnceAndKeepsTheServerList)
{
    FeedServer feed("HTTP/1.1 404 Not Found", "<?xml version=\"1.0\"?><root><Link>10.0.0.1:1</Link></root>");
    ServerList servers;
    servers.setEntry(0, "192.0.2.1", 3333);
    CCloudLink link({feed.url("/feed"), feed.url("/rss/varsyldev.xml"), "localhost"}, kIdentity, servers, {});
    Reports reports(link);
    link.start();

    ASSERT_TRUE(runUntil([&] { return reports.probes == 1; }));
    ASSERT_EQ(feed.requests.size(), 2u);
    EXPECT_TRUE(feed.requests[1].startsWith("POST /rss/varsyldev.xml HTTP/1.1\r\n"));
    EXPECT_EQ(servers.entry(0), (ServerList::Entry{"192.0.2.1", 3333}));
}

TEST(CloudLink, DestructionAbandonsAPostThatIsNeverAnswered)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    bool connected = false;
    QObject::connect(&silent, &QTcpServer::newConnection, &silent, [&] { connected = true; });
    ServerList servers;
    QElapsedTimer stopping;
    {
        CCloudLink link({"http://127.0.0.1:" + std::to_string(silent.serverPort()) + "/", "", ""}, kIdentity, servers,
                        {});
        link.start();
        ASSERT_TRUE(runUntil([&] { return connected; }));
        stopping.start();
    }
    EXPECT_LT(stopping.elapsed(), 5000);
}
