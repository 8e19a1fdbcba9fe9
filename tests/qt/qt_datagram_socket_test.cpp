#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <QNetworkDatagram>
#include <QUdpSocket>

#include "qt/qt_datagram_socket.h"
#include "qt_test_main.h"

using namespace vandry;
using vandry::testing::runUntil;

namespace {
constexpr Ipv4 kLoopback = 0x7F000001;
constexpr Ipv4 kDiscoveryGroup = 0xE0000105; // 224.0.1.5

struct Received {
    std::string text;
    Endpoint source;
};
} // namespace

TEST(QtDatagramSocket, DeliversEveryPendingDatagramWithItsSource)
{
    QtDatagramSocket sender;
    QtDatagramSocket receiver;
    EXPECT_FALSE(sender.sendTo(asBytes("early"), {kLoopback, 9})); // not bound yet
    ASSERT_TRUE(sender.bind(0));
    receiver.setReceiveBufferSize(1 << 20); // before bind: kept for it
    ASSERT_TRUE(receiver.bind(0));
    ASSERT_NE(sender.localPort(), 0);
    ASSERT_NE(receiver.localPort(), sender.localPort());
    std::vector<Received> got;
    receiver.setReceiveHandler([&got](ByteSpan datagram, Endpoint source) {
        got.push_back({std::string(datagram.begin(), datagram.end()), source});
    });

    // Sent back to back, so several are pending when the receiver first looks.
    for (const std::string text : {"one", "two", "three"})
        ASSERT_TRUE(sender.sendTo(asBytes(text), {kLoopback, receiver.localPort()}));
    ASSERT_TRUE(runUntil([&] { return got.size() == 3; }));
    EXPECT_EQ(got[0].text, "one");
    EXPECT_EQ(got[2].text, "three");
    for (const auto& r : got)
        EXPECT_EQ(r.source, (Endpoint{kLoopback, sender.localPort()}));
}

TEST(QtDatagramSocket, PortHeldByAnotherSocketFailsSoTheCallerCanFallBack)
{
    auto holder = std::make_unique<QtDatagramSocket>();
    ASSERT_TRUE(holder->bind(0));
    const auto port = holder->localPort();
    QtDatagramSocket second;
    EXPECT_FALSE(second.bind(port));
    EXPECT_EQ(second.localPort(), 0);
    ASSERT_TRUE(second.bind(0));
    EXPECT_NE(second.localPort(), port);

    // A destroyed socket gives its port back at once, not when Qt gets round to deleting it.
    holder.reset();
    QtDatagramSocket third;
    EXPECT_TRUE(third.bind(port));
}

TEST(QtDatagramSocket, HandlerMayDestroyTheSocket)
{
    QtDatagramSocket sender;
    auto receiver = std::make_unique<QtDatagramSocket>();
    ASSERT_TRUE(sender.bind(0));
    ASSERT_TRUE(receiver->bind(0));
    int calls = 0;
    receiver->setReceiveHandler([&](ByteSpan, Endpoint) {
        ++calls;
        receiver.reset();
    });
    for (const std::string text : {"one", "two", "three"})
        ASSERT_TRUE(sender.sendTo(asBytes(text), {kLoopback, receiver->localPort()}));
    // All three are pending when the first is delivered; the other two must not reach a destroyed socket.
    ASSERT_TRUE(runUntil([&] { return !receiver; }));
    EXPECT_EQ(calls, 1);
}

TEST(QtDatagramSocket, MulticastMembershipNeedsABoundSocketAndAGroupAddress)
{
    QtDatagramSocket socket;
    EXPECT_FALSE(socket.joinMulticastGroup(kDiscoveryGroup));
    socket.setMulticastTtl(32);
    ASSERT_TRUE(socket.bind(0));
    EXPECT_FALSE(socket.joinMulticastGroup(kLoopback));
    // Hosts without a multicast route refuse the group; either answer is fine, a crash is not.
    socket.joinMulticastGroup(kDiscoveryGroup);
}

// The server probe sends from its own thread while the owning thread sends and receives.
TEST(QtDatagramSocket, SendsFromAnotherThread)
{
    QtDatagramSocket sender;
    QtDatagramSocket receiver;
    ASSERT_TRUE(sender.bind(0));
    ASSERT_TRUE(receiver.bind(0));
    std::vector<Received> got;
    receiver.setReceiveHandler([&got](ByteSpan datagram, Endpoint source) {
        got.push_back({std::string(datagram.begin(), datagram.end()), source});
    });
    const Endpoint to{kLoopback, receiver.localPort()};
    bool sentFromWorker = false;
    std::thread worker([&] { sentFromWorker = sender.sendTo(asBytes("from the worker"), to); });
    const bool sentHere = sender.sendTo(asBytes("from the owner"), to);
    worker.join();
    EXPECT_TRUE(sentFromWorker);
    EXPECT_TRUE(sentHere);
    ASSERT_TRUE(runUntil([&] { return got.size() == 2; }));
    std::vector<std::string> texts{got[0].text, got[1].text};
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"from the owner", "from the worker"}));
    EXPECT_EQ(got[0].source, (Endpoint{kLoopback, sender.localPort()}));
}

TEST(QtDatagramSocket, AHopLimitHoldsForItsOwnDatagramOnly)
{
    QtDatagramSocket sender;
    EXPECT_FALSE(sender.sendToWithHopLimit(asBytes("early"), {kLoopback, 9}, 1)); // not bound yet
    ASSERT_TRUE(sender.bind(0));
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const Endpoint to{kLoopback, receiver.localPort()};
    EXPECT_FALSE(sender.sendToWithHopLimit(asBytes("none"), to, 0));
    ASSERT_TRUE(sender.sendToWithHopLimit(asBytes("limited"), to, 1));
    ASSERT_TRUE(sender.sendTo(asBytes("plain"), to));
    std::vector<std::pair<std::string, int>> got;
    ASSERT_TRUE(runUntil([&] {
        while (receiver.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = receiver.receiveDatagram();
            got.emplace_back(datagram.data().toStdString(), datagram.hopLimit());
        }
        return got.size() == 2;
    }));
    EXPECT_EQ(got[0], (std::pair<std::string, int>{"limited", 1}));
    EXPECT_EQ(got[1].first, "plain");
    EXPECT_GT(got[1].second, 1);
}
