#include <gtest/gtest.h>

#include <QCoreApplication>

#include <array>
#include <vector>

#include "qt/qt_socket_factory.h"
#include "qt/qt_stream_socket.h"
#include "qt_test_main.h"

using namespace vandry;
using vandry::testing::runUntil;

namespace {
constexpr Ipv4 kLoopback = 0x7F000001;

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
    return bytes;
}

// One side of a conversation as the core drives it: writes until the socket takes no more and resumes
// on `writable`; reads everything on `readable`.
struct Peer {
    std::unique_ptr<StreamSocket> socket;
    std::vector<std::uint8_t> outgoing;
    std::size_t sent = 0;
    int shortWrites = 0;
    std::vector<std::uint8_t> incoming;
    int connected = 0;
    int closed = 0;

    void attach(std::unique_ptr<StreamSocket> s)
    {
        socket = std::move(s);
        socket->setHandlers({.connected = [this] { ++connected; },
                             .readable = [this] { drain(); },
                             .writable = [this] { pump(); },
                             .closed = [this] { ++closed; }});
    }
    void pump()
    {
        while (sent < outgoing.size()) {
            const auto taken = socket->write(ByteSpan(outgoing).subspan(sent));
            ASSERT_GE(taken, 0);
            sent += static_cast<std::size_t>(taken);
            if (sent < outgoing.size()) {
                ++shortWrites;
                return;
            }
        }
    }
    void drain()
    {
        std::array<std::uint8_t, 65536> chunk;
        std::int64_t n = 0;
        while ((n = socket->read(chunk)) > 0)
            incoming.insert(incoming.end(), chunk.begin(), chunk.begin() + n);
    }
};

// Runs everything already queued on this thread, such as a late second failure signal.
void settle()
{
    bool reached = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { reached = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(runUntil([&] { return reached; }));
}

class QtStreamSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        listener = factory.createStreamListener();
        listener->setAcceptHandler([this](std::unique_ptr<StreamSocket> s) { server.attach(std::move(s)); });
        ASSERT_TRUE(listener->listen(0));
        client.attach(factory.createStreamSocket());
        client.socket->connectTo({kLoopback, listener->localPort()});
        ASSERT_TRUE(runUntil([this] { return client.connected == 1 && server.socket; }));
    }

    QtSocketFactory factory;
    std::unique_ptr<StreamListener> listener;
    Peer client;
    Peer server;
};
} // namespace

TEST_F(QtStreamSocketTest, TransfersOneMebibyteEachWayThroughShortWrites)
{
    EXPECT_EQ(client.socket->peer(), (Endpoint{kLoopback, listener->localPort()}));
    EXPECT_EQ(server.socket->peer().address, kLoopback);

    constexpr std::size_t kSize = 1 << 20;
    client.outgoing = pattern(kSize, 1);
    server.outgoing = pattern(kSize, 2);
    client.pump();
    server.pump();
    EXPECT_LE(client.sent, static_cast<std::size_t>(QtStreamSocket::kMaxQueuedBytes));
    ASSERT_TRUE(runUntil([&] { return client.incoming.size() >= kSize && server.incoming.size() >= kSize; }));
    EXPECT_GT(client.shortWrites, 1);
    EXPECT_TRUE(server.incoming == client.outgoing);
    EXPECT_TRUE(client.incoming == server.outgoing);
    EXPECT_EQ(client.closed + server.closed, 0);
}

TEST_F(QtStreamSocketTest, APeerThatIsNotReadIsHeldBackByFlowControlNotBufferedWithoutEnd)
{
    // More than the kernel's socket buffers can hold on both sides together.
    constexpr std::size_t kSize = 96 << 20;
    server.socket->setHandlers({}); // the owner reads nothing for now
    client.outgoing = pattern(kSize, 4);
    client.pump();
    runUntil([] { return false; }, std::chrono::milliseconds(1500));
    EXPECT_LE(server.socket->bytesAvailable(), QtStreamSocket::kMaxBufferedReadBytes);
    EXPECT_LT(client.sent, kSize);

    server.attach(std::move(server.socket));
    server.drain();
    ASSERT_TRUE(runUntil([&] { return server.incoming.size() >= kSize; }));
    EXPECT_TRUE(server.incoming == client.outgoing);
}

TEST_F(QtStreamSocketTest, CloseSendsWhatIsQueuedThenThePeerSeesClosed)
{
    client.outgoing = pattern(100'000, 3);
    client.pump();
    ASSERT_EQ(client.sent, client.outgoing.size());
    client.socket->close();
    ASSERT_TRUE(runUntil([&] { return server.closed > 0; }));
    server.drain();
    EXPECT_TRUE(server.incoming == client.outgoing);

    std::array<std::uint8_t, 16> chunk;
    EXPECT_EQ(server.socket->read(chunk), -1);
    EXPECT_EQ(server.socket->write(ByteSpan(chunk)), -1);
    // Closed once on the peer, never for the local close().
    settle();
    EXPECT_EQ(server.closed, 1);
    EXPECT_EQ(client.closed, 0);
}

TEST_F(QtStreamSocketTest, ClosedHandlerMayDestroyTheSocket)
{
    StreamSocket::Handlers handlers;
    handlers.closed = [this] { server.socket.reset(); };
    server.socket->setHandlers(std::move(handlers));
    client.socket.reset();
    EXPECT_TRUE(runUntil([&] { return !server.socket; }));
}

TEST(QtStreamSocket, FailedConnectReportsClosedOnceAndNotFromInsideConnectTo)
{
    std::uint16_t closedPort = 0;
    {
        QtStreamListener gone;
        ASSERT_TRUE(gone.listen(0));
        closedPort = gone.localPort();
    }
    // Loopback refuses after a round trip; the host refuses a broadcast destination inside connect() itself.
    for (const Endpoint destination : {Endpoint{kLoopback, closedPort}, Endpoint{0xFFFFFFFF, 80}}) {
        SCOPED_TRACE(destination.address);
        Peer client;
        client.attach(std::make_unique<QtStreamSocket>());
        client.socket->connectTo(destination);
        EXPECT_EQ(client.closed, 0);
        ASSERT_TRUE(runUntil([&] { return client.closed > 0; }));
        settle();
        EXPECT_EQ(client.closed, 1);
        EXPECT_EQ(client.connected, 0);
        EXPECT_EQ(client.socket->write(asBytes("x")), -1);
    }
}
