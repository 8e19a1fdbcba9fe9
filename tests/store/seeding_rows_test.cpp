#include <gtest/gtest.h>

#include "tasks/seeding_rows.h"

using namespace vandry;

namespace {
HostIdentity host(std::uint8_t n)
{
    return {n, 0, 0, 0x10, 0x34, 0x12, 0x78, 0x56, 0x9A, 0xBC, 0xDE, 0xF0, 0x01, 0x23, 0x45, n};
}

HostRecord record(std::uint8_t n, std::string_view nickname)
{
    HostRecord r;
    r.identity = host(n);
    r.lanPrimary = 0xC0A80000u + n;
    r.setNickname(nickname);
    return r;
}

struct SeedingRowsTest : ::testing::Test {
    SeedingRowsTest()
    {
        key.digest = {0xDE, 0xAD, 0xBE, 0xEF, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFF};
        key.sizeLow = 4'000'000'000u;
    }
    ManualClock clock;
    SeedTable seeds{clock};
    NeighbourTable neighbours{clock, record(99, "me")};
    SourceInfo key;
};
} // namespace

TEST(SeedingAgeTextTest, SecondsUnderAMinuteThenMinutesAndSeconds)
{
    EXPECT_EQ(seedingAgeText(0), "0");
    EXPECT_EQ(seedingAgeText(59), "59");
    EXPECT_EQ(seedingAgeText(60), "1m0");
    EXPECT_EQ(seedingAgeText(600), "10m0");
    EXPECT_EQ(seedingAgeText(3725), "62m5");
    EXPECT_EQ(seedingAgeText(-25), "-25");
}

TEST(SeedingRowIdentityTest, ReadsTheGuidTextWithOrWithoutBraces)
{
    const HostIdentity id = host(7);
    EXPECT_EQ(seedingRowIdentity(identityText(id)), id);
    EXPECT_EQ(seedingRowIdentity("{" + identityText(id) + "}"), id);
    EXPECT_EQ(seedingRowIdentity("{" + identityText(id)), id);
    EXPECT_FALSE(seedingRowIdentity(""));
    EXPECT_FALSE(seedingRowIdentity("{"));
    EXPECT_FALSE(seedingRowIdentity(identityText(id) + "x"));
}

TEST_F(SeedingRowsTest, RowsShowStateAgeAndTheNicknameOfKnownHosts)
{
    const HostRecord known = record(1, "alice");
    neighbours.merge(std::span(&known, 1), 0);
    seeds.addSource(true, key, host(1), "\\a");
    seeds.addSource(false, key, host(2), "");
    seeds.addSource(true, key, host(3), "\\c");
    seeds.setSourceState(key, host(3), SEED_FLAG_SUSPEND);
    clock.advanceSeconds(75);

    const auto rows = seedingRows(seeds, key, clock.nowSeconds(), neighbours);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].identity, host(1));
    EXPECT_EQ(rows[0].guid, "10000001-1234-5678-9ABC-DEF001234501");
    EXPECT_EQ(rows[0].host, "alice");
    EXPECT_EQ(rows[0].code, "2:SEED_FLAG_READY");
    EXPECT_EQ(rows[0].time, "1m15");
    EXPECT_EQ(rows[0].invoke, "1");
    EXPECT_EQ(rows[1].host, "");
    EXPECT_EQ(rows[1].code, "8:SEED_FLAG_BAD");
    EXPECT_EQ(rows[1].invoke, "");
    EXPECT_EQ(rows[2].code, "4:SEED_FLAG_SUSPEND");
    EXPECT_EQ(rows[2].invoke, "2m0");

    // Forgotten after 600 s, the host has no nickname any more.
    clock.advanceSeconds(600);
    EXPECT_EQ(seedingRows(seeds, key, clock.nowSeconds(), neighbours)[0].host, "");
}

TEST_F(SeedingRowsTest, HeaderTextsOfTheFile)
{
    EXPECT_EQ(seedingRefreshText(seeds, key, clock.nowSeconds()), "");
    EXPECT_TRUE(seedingRows(seeds, key, clock.nowSeconds(), neighbours).empty());
    seeds.findSlot(key, true);
    EXPECT_EQ(seedingRefreshText(seeds, key, 130), "130/120");
    EXPECT_EQ(seedingSizeText(key), "4000000000");
    EXPECT_EQ(seedingDigestText(key), "deadbeef000102030405060708090aff");
}
