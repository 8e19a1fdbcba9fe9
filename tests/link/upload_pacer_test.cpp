// The upload pacer on a manual clock.

#include <gtest/gtest.h>

#include <algorithm>

#include "link/upload_pacer.h"

using namespace vandry;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kAnswer = 4096;
constexpr std::size_t kLargestAnswer = 63 * 1024; // the bucket always holds one

// Offers one answer per simulated millisecond for `ms` milliseconds; the bytes let through.
std::size_t sendFor(UploadPacer& pacer, ManualClock& clock, std::uint32_t ms)
{
    std::size_t sent = 0;
    for (std::uint32_t i = 0; i < ms; ++i) {
        if (pacer.delayFor(kAnswer) == 0ms)
            sent += kAnswer;
        clock.advanceMs(1);
    }
    return sent;
}

TEST(UploadPacer, UnlimitedNeverWaits)
{
    ManualClock clock;
    for (const int limit : {-1, 0}) {
        UploadPacer pacer(clock, [limit] { return limit; });
        for (int i = 0; i < 10'000; ++i)
            ASSERT_EQ(pacer.delayFor(kAnswer), 0ms);
    }
    UploadPacer noLimit(clock, {});
    EXPECT_EQ(noLimit.delayFor(1 << 20), 0ms);
}

TEST(UploadPacer, HoldsTheRateOverSimulatedSeconds)
{
    ManualClock clock;
    const int limit = 200 * 1024;
    UploadPacer pacer(clock, [&] { return limit; });
    const std::size_t sent = sendFor(pacer, clock, 10'000);
    // Ten seconds at the limit plus at most the burst: a quarter second, at least a largest answer.
    EXPECT_GE(sent, 10u * limit - kAnswer);
    EXPECT_LE(sent, 10u * limit + std::max<std::size_t>(limit / 4, kLargestAnswer) + kAnswer);
}

TEST(UploadPacer, BurstIsAQuarterSecondButAtLeastOneAnswer)
{
    ManualClock clock;
    int limit = 400 * 1024;
    UploadPacer pacer(clock, [&] { return limit; });
    std::size_t burst = 0;
    while (pacer.delayFor(kAnswer) == 0ms)
        burst += kAnswer;
    EXPECT_EQ(burst, 100u * 1024);

    // A limit below one answer per quarter second still lets whole answers through.
    limit = 1024;
    clock.advanceSeconds(100);
    EXPECT_EQ(pacer.delayFor(kLargestAnswer), 0ms);
    EXPECT_EQ(pacer.delayFor(kLargestAnswer), 63000ms);
    clock.advanceMs(62999);
    EXPECT_EQ(pacer.delayFor(kLargestAnswer), 1ms);
    clock.advanceMs(1);
    EXPECT_EQ(pacer.delayFor(kLargestAnswer), 0ms);
}

TEST(UploadPacer, TheWaitItNamesIsEnough)
{
    ManualClock clock;
    UploadPacer pacer(clock, [] { return 300 * 1024; });
    while (pacer.delayFor(kAnswer) == 0ms) {
    }
    for (int i = 0; i < 100; ++i) {
        const auto wait = pacer.delayFor(kAnswer);
        ASSERT_GT(wait, 0ms);
        clock.advanceMs(static_cast<std::uint32_t>(wait.count()));
        ASSERT_EQ(pacer.delayFor(kAnswer), 0ms);
    }
}

TEST(UploadPacer, AChangedLimitTakesEffectAtOnce)
{
    ManualClock clock;
    int limit = -1;
    UploadPacer pacer(clock, [&] { return limit; });
    EXPECT_EQ(sendFor(pacer, clock, 1000), 1000 * kAnswer);

    limit = 200 * 1024;
    sendFor(pacer, clock, 1000); // the burst is spent
    EXPECT_NEAR(static_cast<double>(sendFor(pacer, clock, 5000)), 5.0 * limit, 2.0 * kAnswer);

    // Lowered: the bucket shrinks with it, and the rate follows at once.
    limit = 50 * 1024;
    EXPECT_NEAR(static_cast<double>(sendFor(pacer, clock, 4000)), 4.0 * limit, 2.0 * kAnswer);

    limit = 0;
    EXPECT_EQ(sendFor(pacer, clock, 100), 100 * kAnswer);
}

TEST(UploadPacer, SurvivesTheTickWrapping)
{
    ManualClock clock;
    clock.advanceMs(0xFFFFFFFFu - 500);
    UploadPacer pacer(clock, [] { return 100 * 1024; });
    const std::size_t sent = sendFor(pacer, clock, 2000);
    EXPECT_NEAR(static_cast<double>(sent), 2.0 * 100 * 1024 + kLargestAnswer, 2.0 * kAnswer);
}

} // namespace
