// The rendezvous server with a shared registry: what it publishes and what it makes of the others'.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "rendezvous_fixture.h"
#include "server/redis_registry.h"

namespace vandry::testing {
namespace {

using ::testing::Contains;

class RecordingRegistry final : public CopyRegistry {
public:
    void publish(const RegistryEntry& entry) override { published.push_back(entry); }
    std::vector<RegistryEntry> published;
};

class RendezvousRegistryTest : public ::testing::Test {
protected:
    RendezvousRegistryTest()
        : server(
              socket, clock, {}, [](const std::string&) {}, &registry)
    {
    }
    void announce(int n)
    {
        const std::size_t before = socket.sent.size();
        socket.receive(announceDatagram(copyRecord(n)), copyEndpoint(n));
        for (std::size_t i = before; i < socket.sent.size(); ++i)
            if (socket.sent[i].to == copyEndpoint(n) && socket.sent[i].bytes[2] == 147) {
                auto echo = socket.sent[i].bytes;
                echo[3] = 1;
                socket.receive(echo, copyEndpoint(n));
                break;
            }
    }
    // Copy n as another server published it, heard `ago` seconds back.
    RegistryEntry elsewhere(int n, std::int64_t ago = 0) { return {keptRecord(n), clock.nowSeconds() - ago}; }

    RecordingSocket socket;
    ManualClock clock;
    RecordingRegistry registry;
    RendezvousServer server;
};

TEST_F(RendezvousRegistryTest, VerifiedCopiesArePublishedWithWhenTheyWereHeard)
{
    socket.receive(announceDatagram(copyRecord(1)), copyEndpoint(1)); // not echoed yet
    EXPECT_TRUE(registry.published.empty());
    announce(1);
    ASSERT_EQ(registry.published.size(), 1u);
    EXPECT_EQ(registry.published[0].record, keptRecord(1));
    EXPECT_EQ(registry.published[0].heardAt, clock.nowSeconds());
}

TEST_F(RendezvousRegistryTest, OtherServersCopiesAreListedButNotPushedToAndLeaveWithTheRegistry)
{
    const std::vector<RegistryEntry> snapshot{elsewhere(2), elsewhere(3)};
    server.takeRegistrySnapshot(snapshot);
    announce(1);
    const auto listed = listsSentTo(socket, copyEndpoint(1)).records;
    EXPECT_THAT(listed, Contains(keptRecord(2)));
    EXPECT_THAT(listed, Contains(keptRecord(3)));
    EXPECT_TRUE(socket.sentTo(copyEndpoint(2)).empty()) << "copy 2 belongs to another server";

    clock.advanceSeconds(60);
    server.forgetSilentCopies();
    EXPECT_EQ(server.copies().size(), 2u) << "remote copies expire in the registry, not here";
    const std::vector<RegistryEntry> later{elsewhere(3)};
    server.takeRegistrySnapshot(later);
    EXPECT_FALSE(server.copies().findLive(copyRecord(2).identity, clock.nowSeconds()));
}

TEST_F(RendezvousRegistryTest, CopyHeardElsewhereBecomesTheirsOnlyOnceQuietHere)
{
    announce(1);
    auto atOther = keptRecord(1);
    atOther.mapPort = 50000;
    const std::vector<RegistryEntry> fresh{{atOther, clock.nowSeconds() + 5}};
    clock.advanceSeconds(5);
    server.takeRegistrySnapshot(fresh);
    EXPECT_EQ(server.copies().findLive(copyRecord(1).identity, clock.nowSeconds()), keptRecord(1))
        << "still announcing here";

    clock.advanceSeconds(30);
    const std::vector<RegistryEntry> later{{atOther, clock.nowSeconds()}};
    server.takeRegistrySnapshot(later);
    EXPECT_EQ(server.copies().findLive(copyRecord(1).identity, clock.nowSeconds()), atOther);
}

TEST(RegistryEntry, RoundTripsAndRejectsWhatDoesNotFit)
{
    const RegistryEntry entry{keptRecord(7), 1'700'000'123};
    const auto bytes = encodeRegistryEntry(entry);
    ASSERT_EQ(bytes.size(), RegistryEntry::kSize);
    const auto back = parseRegistryEntry(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->record, entry.record);
    EXPECT_EQ(back->heardAt, entry.heardAt);

    EXPECT_FALSE(parseRegistryEntry(ByteSpan(bytes).first(bytes.size() - 1)));
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(parseRegistryEntry(longer));
    EXPECT_FALSE(parseRegistryEntry(encodeRegistryEntry({HostRecord{}, 1}))) << "no identity";
}

TEST(RedisUrl, HostAndPortOrNothing)
{
    const auto url = parseRedisUrl("redis://127.0.0.1:6380");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host, "127.0.0.1");
    EXPECT_EQ(url->port, 6380);
    EXPECT_EQ(parseRedisUrl("redis://cache.lan")->port, 6379);
    for (const char* bad : {"", "127.0.0.1:6379", "http://h:1", "redis://", "redis://h:", "redis://h:0",
                            "redis://h:70000", "redis://u@h:1", "redis://h:1x"})
        EXPECT_FALSE(parseRedisUrl(bad)) << bad;
}

} // namespace
} // namespace vandry::testing
