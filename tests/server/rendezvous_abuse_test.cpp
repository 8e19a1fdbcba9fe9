// What a source that lies about its address, or asks too much, gets out of the server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "rendezvous_fixture.h"
#include "server/core/token_bucket.h"

namespace vandry::testing {
namespace {

using ::testing::ElementsAre;

std::size_t bytesSentTo(const RecordingSocket& socket, Endpoint to)
{
    std::size_t total = 0;
    for (const auto& d : socket.sentTo(to))
        total += d.bytes.size();
    return total;
}

class RendezvousAbuseTest : public RendezvousTest {
protected:
    explicit RendezvousAbuseTest(RendezvousSettings settings = {}) : RendezvousTest(settings) {}

    void populate(int copies)
    {
        for (int n = 1; n <= copies; ++n)
            announce(n);
        socket.sent.clear();
    }
    std::size_t refusalsTo(Endpoint to, Refusal why) const
    {
        std::size_t count = 0;
        for (const auto& d : socket.sentTo(to))
            count += d.bytes[2] == kRefusalType && d.bytes[3] == static_cast<std::uint8_t>(why);
        return count;
    }

    const Endpoint victim{0xCB007109, 5000};
};

TEST_F(RendezvousAbuseTest, ForgedSourceGetsOneCheckNoLargerThanTheAnnounceAndNothingElse)
{
    populate(100);
    socket.receive(announceDatagram(copyRecord(500)), victim); // never echoed: the victim did not send it

    ASSERT_EQ(socket.sent.size(), 1u) << "no list, no pushes";
    EXPECT_EQ(socket.sent[0].to, victim);
    EXPECT_EQ(socket.sent[0].bytes[2], 147);
    EXPECT_EQ(socket.sent[0].bytes[3], 0);
    EXPECT_LE(socket.sent[0].bytes.size(), announceDatagram(copyRecord(500)).size());
    EXPECT_FALSE(server.copies().findLive(copyRecord(500).identity, clock.nowSeconds()));
}

TEST_F(RendezvousAbuseTest, OnlyTheRightNonceFromTheSameEndpointInTimeAdmitsOnce)
{
    populate(2);
    socket.receive(announceDatagram(copyRecord(3)), copyEndpoint(3));
    ASSERT_EQ(socket.sent.size(), 1u);
    auto echo = socket.sent[0].bytes;
    echo[3] = 1;
    const auto admitted = [this] { return server.copies().findLive(copyRecord(3).identity, clock.nowSeconds()); };

    auto wrongNonce = echo;
    wrongNonce.back() ^= 1;
    socket.receive(wrongNonce, copyEndpoint(3));
    socket.receive(echo, {copyEndpoint(3).address, 1}); // another port of the same address
    auto echoAsRequest = echo;
    echoAsRequest[3] = 0;
    socket.receive(echoAsRequest, copyEndpoint(3));
    EXPECT_FALSE(admitted());

    clock.advanceSeconds(30);
    socket.receive(echo, copyEndpoint(3));
    EXPECT_FALSE(admitted()) << "expired";

    // A fresh check, answered in time, admits; the same echo again changes nothing.
    socket.sent.clear();
    announce(3);
    EXPECT_TRUE(admitted());
    const std::size_t sent = socket.sent.size();
    socket.receive(echo, copyEndpoint(3));
    EXPECT_EQ(socket.sent.size(), sent);
    EXPECT_EQ(server.stats().newCopies, 3u);
}

TEST_F(RendezvousAbuseTest, LiveCopyCannotBeTakenOverButAQuietOneMoves)
{
    populate(3);
    const Endpoint thief{0xCB00710A, 6000};
    announceFrom(3, thief); // the thief echoes its own check
    EXPECT_EQ(server.copies().findLive(copyRecord(3).identity, clock.nowSeconds()), keptRecord(3));
    EXPECT_TRUE(socket.sentTo(copyEndpoint(1)).empty()) << "nothing pushed";
    EXPECT_EQ(refusalsTo(thief, Refusal::IdentityInUse), 1u);

    // Copy 3's translator gave it a new port and its old one fell silent.
    for (int i = 0; i < 2; ++i) {
        clock.advanceSeconds(20);
        announce(1);
        announce(2);
    }
    socket.sent.clear();
    const Endpoint moved{copyEndpoint(3).address, 50000};
    announceFrom(3, moved);
    auto movedRecord = keptRecord(3);
    movedRecord.mapPort = 50000;
    EXPECT_EQ(server.copies().findLive(copyRecord(3).identity, clock.nowSeconds()), movedRecord);
    EXPECT_THAT(listsSentTo(socket, copyEndpoint(1)).records, ElementsAre(movedRecord));
    EXPECT_TRUE(logMentions("copy moved: " + identityText(copyRecord(3).identity)));
}

TEST_F(RendezvousAbuseTest, OneAddressAnnouncingFastGetsBoundedAnswersAndFewRefusals)
{
    populate(200);
    // A thousand announces within a second, from a copy that proves its endpoint each time.
    for (int i = 0; i < 1000; ++i) {
        announce(1, 1);
        clock.advanceMs(1);
    }
    const auto& limits = SourceLimitSettings{};
    const std::size_t oneList = 10 * (ControlDatagram::kSize + 1200);
    EXPECT_LE(bytesSentTo(socket, copyEndpoint(1)), static_cast<std::size_t>(limits.lists.burst + 2) * oneList);
    EXPECT_LE(server.stats().fullLists, 200u + static_cast<std::size_t>(limits.lists.burst + 2));
    EXPECT_LE(refusalsTo(copyEndpoint(1), Refusal::RateLimited), static_cast<std::size_t>(limits.refusals.burst + 1));
    EXPECT_GE(server.stats().refusals[static_cast<std::size_t>(Refusal::RateLimited)], 800u);

    // Another address is not held back by it.
    socket.sent.clear();
    clock.advanceSeconds(20);
    announce(2, 1);
    EXPECT_EQ(othersListedTo(2).size(), 199u);
}

TEST_F(RendezvousAbuseTest, RelayedPacketsArePassedOnUpToTheSourceLimit)
{
    populate(2);
    auto requester = copyRecord(2);
    requester.hosting = copyRecord(1).identity;
    const auto request =
        controlDatagram(ControlType::Request, 0, *encodeTextRequest(RequestKind::ShareQuery, 0, 0, requester, "x"));
    for (int i = 0; i < 1000; ++i)
        socket.receive(request, copyEndpoint(2));
    const std::size_t burst = static_cast<std::size_t>(SourceLimitSettings{}.relays.burst);
    EXPECT_EQ(socket.sentTo(copyEndpoint(1)).size(), burst);
    EXPECT_EQ(server.stats().relayed, burst);
}

class RendezvousCrowdTest : public RendezvousAbuseTest {
protected:
    RendezvousCrowdTest() : RendezvousAbuseTest(settingsWith([](auto& s) { s.maxCopies = 300; })) {}
};

TEST_F(RendezvousCrowdTest, FakeIdentitiesFromAFewAddressesCannotKeepNewcomersOut)
{
    // Four addresses, each announcing 200 made-up identities from as many ports, and echoing.
    for (int attacker = 0; attacker < 4; ++attacker)
        for (int i = 0; i < 200; ++i) {
            auto fake = copyRecord(1000 + attacker * 200 + i);
            const Endpoint from{0xCB007200 + static_cast<std::uint32_t>(attacker),
                                static_cast<std::uint16_t>(1000 + i)};
            const std::size_t before = socket.sent.size();
            socket.receive(announceDatagram(fake), from);
            echoChecks(from, before);
            clock.advanceMs(300); // under the announce rate limit
        }
    EXPECT_EQ(server.copies().size(), 4 * SourceLimitSettings{}.identitiesPerAddress);

    for (int n = 1; n <= 40; ++n)
        announce(n);
    for (int n = 1; n <= 40; ++n)
        EXPECT_TRUE(server.copies().findLive(copyRecord(n).identity, clock.nowSeconds())) << n;
}

class RendezvousPushBudgetTest : public RendezvousAbuseTest {
protected:
    RendezvousPushBudgetTest() : RendezvousAbuseTest(settingsWith([](auto& s) { s.pushes = {10, 10}; })) {}
};

TEST_F(RendezvousPushBudgetTest, NewcomersBeyondThePushBudgetReachTheOthersWithTheirNextAnswer)
{
    populate(5); // pushing copies 2 to 5 to those before them spends the budget of ten
    announce(6);
    EXPECT_TRUE(socket.sentTo(copyEndpoint(1)).empty());
    EXPECT_EQ(server.stats().pushesSkipped, 1u);

    clock.advanceSeconds(20);
    socket.sent.clear();
    announce(1);
    EXPECT_THAT(othersListedTo(1), ::testing::Contains(keptRecord(6)));
}

TEST(TokenBucket, GivesItsBurstThenItsRateAcrossTheTickWrap)
{
    std::uint32_t now = 0xFFFFFF00u; // 256 ms before the tick wraps
    TokenBucket bucket({10, 5}, now);
    int taken = 0;
    while (bucket.take(now))
        ++taken;
    EXPECT_EQ(taken, 5);
    now += 1000; // across the wrap
    taken = 0;
    while (bucket.take(now))
        ++taken;
    EXPECT_EQ(taken, 5) << "ten tokens flowed in, five fit";
    now += 150;
    EXPECT_TRUE(bucket.take(now));
    EXPECT_FALSE(bucket.take(now));
    EXPECT_FALSE(bucket.take(now + 1000, 6)) << "never more than the burst at once";
    EXPECT_TRUE(bucket.full(now + 1000));
}

TEST(SourceLimits, AddressesAreLimitedApartAndIdleOnesForgotten)
{
    SourceLimitSettings settings;
    settings.announces = {1, 2};
    settings.maxSources = 2;
    SourceLimits limits(settings);
    EXPECT_TRUE(limits.allow(1, SourceBudget::Announce, 0));
    EXPECT_TRUE(limits.allow(1, SourceBudget::Announce, 0));
    EXPECT_FALSE(limits.allow(1, SourceBudget::Announce, 0));
    EXPECT_TRUE(limits.allow(1, SourceBudget::List, 0)) << "each budget apart";
    EXPECT_TRUE(limits.allow(2, SourceBudget::Announce, 0));
    EXPECT_FALSE(limits.allow(3, SourceBudget::Announce, 0)) << "table of sources full, none idle";
    EXPECT_TRUE(limits.allow(3, SourceBudget::Announce, 100'000)) << "idle ones make room";
    EXPECT_EQ(limits.size(), 1u);
}

} // namespace
} // namespace vandry::testing
