#include <gtest/gtest.h>

#include <algorithm>

#include "discovery/punch_schedule.h"

using namespace vandry;

namespace {
using Kind = PunchSend::Kind;

HostIdentity id(std::uint8_t first)
{
    HostIdentity identity{};
    identity[0] = first;
    return identity;
}

constexpr Endpoint kMapped{0xC6120C0B, 1552};     // the peer's translator, as the server saw it
constexpr Endpoint kOtherPort{0xC6120C0B, 34756}; // the same translator, another port

class PunchScheduleTest : public ::testing::Test {
protected:
    // Ticks once a second for `seconds`, collecting what was due.
    std::vector<PunchSend> run(int seconds)
    {
        std::vector<PunchSend> all;
        for (int i = 0; i < seconds; ++i) {
            clock.advanceSeconds(1);
            for (const auto& send : schedule.tick())
                all.push_back(send);
        }
        return all;
    }
    static int count(const std::vector<PunchSend>& sends, Kind kind)
    {
        return static_cast<int>(
            std::count_if(sends.begin(), sends.end(), [&](const PunchSend& s) { return s.kind == kind; }));
    }

    ManualClock clock;
    HostIdentity self = id(5);
    HostIdentity higher = id(9);
    HostIdentity lower = id(1);
    PunchSchedule schedule{clock, self};
};
} // namespace

TEST_F(PunchScheduleTest, AnAnswerDuringTheFirstProbesOpensThePathAtOnce)
{
    schedule.want(higher, kMapped, PunchRole::Initiator);
    EXPECT_TRUE(schedule.takeMappedSend(higher));
    const auto retry = run(1);
    ASSERT_EQ(retry.size(), 1u);
    EXPECT_EQ(retry[0].kind, Kind::Probe);
    EXPECT_EQ(retry[0].to, kMapped);

    EXPECT_TRUE(schedule.heard(higher, kMapped));
    EXPECT_FALSE(schedule.heard(higher, kMapped)); // nothing new: the caller does not probe again
    EXPECT_EQ(schedule.path(higher), kMapped);
    EXPECT_EQ(schedule.openedAfterMs(higher), 1000u);
    // An open path is only kept open: one probe every 15 s, no hop-limited datagrams, no quiet time.
    const auto later = run(40);
    EXPECT_EQ(count(later, Kind::KeepAlive), 0);
    EXPECT_EQ(count(later, Kind::Probe), 2);
    EXPECT_TRUE(schedule.takeMappedSend(higher));
}

TEST_F(PunchScheduleTest, AnUnansweredStarterKeepsItsEntryWithoutReachingThePeer)
{
    schedule.want(higher, kMapped, PunchRole::Initiator);
    ASSERT_TRUE(schedule.takeMappedSend(higher));
    run(2);
    EXPECT_EQ(schedule.phase(higher), PunchPhase::Keeping);
    // Requests and calls keep coming, but nothing may reach the peer's translator now.
    std::vector<PunchSend> sends;
    for (int i = 0; i < 45; ++i) {
        schedule.want(higher, kMapped, PunchRole::Initiator);
        EXPECT_FALSE(schedule.takeMappedSend(higher));
        for (const auto& s : run(1))
            sends.push_back(s);
    }
    EXPECT_EQ(count(sends, Kind::Probe), 0);
    EXPECT_EQ(count(sends, Kind::KeepAlive), 4); // every 10 s: the translator forgets after 30

    // The opener's probe arrives through the kept entry.
    EXPECT_TRUE(schedule.heard(higher, kMapped));
    EXPECT_EQ(schedule.path(higher), kMapped);
}

TEST_F(PunchScheduleTest, TheAskedSideAnswersOnceThenKeepsQuietUntilThePoisonedEntriesAreGone)
{
    schedule.want(higher, kMapped, PunchRole::Responder);
    EXPECT_TRUE(schedule.takeMappedSend(higher)); // the answer goes at once: enough if nothing was poisoned
    const std::uint32_t answeredAt = clock.tickMs();
    EXPECT_EQ(count(run(1), Kind::Probe), 1);
    const std::uint32_t lastSend = clock.tickMs();
    run(1);
    EXPECT_EQ(schedule.phase(higher), PunchPhase::Quiet);

    std::vector<PunchSend> quiet;
    while (clock.tickMs() - lastSend < PunchSchedule::kQuietMs - 1000) {
        schedule.want(higher, kMapped, PunchRole::Responder);
        EXPECT_FALSE(schedule.takeMappedSend(higher));
        for (const auto& s : run(1))
            quiet.push_back(s);
    }
    EXPECT_TRUE(quiet.empty());
    const auto opening = run(1);
    ASSERT_EQ(opening.size(), 1u);
    EXPECT_EQ(opening[0].kind, Kind::Probe);
    EXPECT_GE(clock.tickMs() - lastSend, PunchSchedule::kQuietMs);
    EXPECT_EQ(schedule.phase(higher), PunchPhase::Opening);

    // The keeper answers from the port it kept.
    EXPECT_TRUE(schedule.heard(higher, kMapped));
    EXPECT_EQ(schedule.openedAfterMs(higher), clock.tickMs() - answeredAt);
}

TEST_F(PunchScheduleTest, WhenBothStartedTheLowerIdentityKeeps)
{
    schedule.want(higher, kMapped, PunchRole::Initiator);
    schedule.want(lower, kMapped, PunchRole::Initiator);
    schedule.want(higher, kMapped, PunchRole::Responder);
    schedule.want(lower, kMapped, PunchRole::Responder);
    run(2);
    EXPECT_EQ(schedule.phase(higher), PunchPhase::Keeping);
    EXPECT_EQ(schedule.phase(lower), PunchPhase::Quiet);
}

TEST_F(PunchScheduleTest, ARoundThatOpensNothingSwapsTheRoles)
{
    schedule.want(higher, kMapped, PunchRole::Initiator);
    for (int s = 0; s < 300 && schedule.phase(higher) != PunchPhase::Quiet; ++s) {
        schedule.want(higher, kMapped, PunchRole::Initiator);
        run(1);
    }
    // Our entry was the wrong one: now the peer keeps and we open after the quiet time.
    EXPECT_EQ(schedule.phase(higher), PunchPhase::Quiet);
    EXPECT_NEAR(clock.tickMs(), PunchSchedule::kTryMs + PunchSchedule::kRoundMs, 1000);
    for (int s = 0; s < 60 && schedule.phase(higher) != PunchPhase::Opening; ++s) {
        schedule.want(higher, kMapped, PunchRole::Initiator);
        run(1);
    }
    ASSERT_EQ(schedule.phase(higher), PunchPhase::Opening);
    schedule.want(higher, kMapped, PunchRole::Initiator);
    EXPECT_EQ(count(run(6), Kind::Probe), 5);
    // Unanswered: our fresh entry is the one to keep.
    EXPECT_EQ(schedule.phase(higher), PunchPhase::Keeping);
}

TEST_F(PunchScheduleTest, TenMinutesOfUnansweredDemandStayAFewDatagramsAMinute)
{
    std::vector<PunchSend> sends;
    for (int s = 0; s < 600; ++s) {
        schedule.want(higher, kMapped, PunchRole::Initiator);
        schedule.takeMappedSend(higher);
        for (const auto& send : run(1))
            sends.push_back(send);
    }
    EXPECT_LE(sends.size(), 90u);
    EXPECT_GE(count(sends, Kind::KeepAlive), 20); // it kept trying in the background
}

TEST_F(PunchScheduleTest, APunchNobodyAsksForIsDroppedAndAnOpenPathLapsesWhenTheNeighbourFallsSilent)
{
    schedule.want(higher, kMapped, PunchRole::Initiator);
    run(59);
    EXPECT_TRUE(schedule.phase(higher));
    run(1);
    EXPECT_FALSE(schedule.phase(higher));
    EXPECT_TRUE(run(60).empty());

    schedule.heard(lower, kOtherPort); // it reached us unasked: we can answer where it came from
    EXPECT_EQ(schedule.path(lower), kOtherPort);
    run(44);
    EXPECT_EQ(schedule.path(lower), kOtherPort);
    run(1);
    EXPECT_FALSE(schedule.path(lower)); // 45 s without a word: the path starts over
    EXPECT_EQ(schedule.phase(lower), PunchPhase::Trying);
    run(60);
    EXPECT_FALSE(schedule.phase(lower));
}

TEST_F(PunchScheduleTest, ANeighbourThatMovedStartsOverAndNoneOfItIsAboutOurselves)
{
    schedule.want(higher, kMapped, PunchRole::Initiator);
    run(3);
    ASSERT_EQ(schedule.phase(higher), PunchPhase::Keeping);
    schedule.want(higher, kOtherPort, PunchRole::Initiator);
    EXPECT_EQ(schedule.phase(higher), PunchPhase::Trying);
    EXPECT_TRUE(schedule.takeMappedSend(higher));

    schedule.want(self, kMapped, PunchRole::Initiator);
    EXPECT_FALSE(schedule.heard(self, kMapped));
    EXPECT_FALSE(schedule.phase(self));
    schedule.want(lower, {0, 0}, PunchRole::Initiator);
    EXPECT_FALSE(schedule.phase(lower));
}
