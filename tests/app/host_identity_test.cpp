#include <gtest/gtest.h>

#include "app/host_identity.h"
#include "common/hex.h"
#include "fake_platforms.h"

using namespace vandry;

TEST(HostIdentity, ByteLayout)
{
    const auto id = makeHostIdentity({0, 9, 0, 0}, {6, 1}, "0123456789abcdef0123456789abcdef");
    // 0x00090000, then ((6 * 16 + 1) << 8) + 1 = 0x6101, then zero, then MD5(text + " é")[0..8].
    EXPECT_EQ(identityHex(id), "00000900016100002c05f1fb528e23dc");
    EXPECT_EQ(identityText(id), "00090000-6101-0000-2C05-F1FB528E23DC");
}

TEST(HostIdentity, VersionPartsKeepTheirLowEightBits)
{
    const auto id = makeHostIdentity({0x101, 0x2FF, 3, 0x104}, {5, 15}, "");
    EXPECT_EQ(identityText(id).substr(0, 14), "01FF0304-5F01-");
}

TEST(HostIdentity, MachineTextChangesOnlyTheLastEightBytes)
{
    const auto a = makeHostIdentity({0, 9, 0, 0}, {6, 1}, "0123456789abcdef0123456789abcdef");
    const auto b = makeHostIdentity({0, 9, 0, 0}, {6, 1}, "other machine");
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 8, b.begin()));
    EXPECT_EQ(hexEncode(ByteSpan(b).subspan(8)), "d196fc1f8c6d96fc");
}

TEST(HostIdentity, ComputedOnceAndCachedInTheSettings)
{
    AppSettings settings;
    vandry::testing::FakeHost host;
    const HostIdentity first = computeHostIdentity(settings, host);
    EXPECT_EQ(settings.identityCache, first);
    EXPECT_EQ(identityText(first).substr(0, 14), "00090000-6101-");

    host.machine = "another machine";
    host.os = {10, 0};
    EXPECT_EQ(computeHostIdentity(settings, host), first);
    EXPECT_EQ(host.machineReads, 1);
}
