#include <gtest/gtest.h>

#include <algorithm>

#include "app/host_environment.h"
#include "qt/linux_platform.h"

using namespace vandry;

TEST(KernelRelease, FirstTwoNumbers)
{
    EXPECT_EQ(parseKernelRelease("6.1.0-13-amd64"), (OsVersion{6, 1}));
    EXPECT_EQ(parseKernelRelease("5.15.0"), (OsVersion{5, 15}));
    EXPECT_EQ(parseKernelRelease("6"), OsVersion{});
    EXPECT_EQ(parseKernelRelease("-6.1"), OsVersion{});
    EXPECT_EQ(parseKernelRelease("99999999999.1"), OsVersion{});
    EXPECT_EQ(parseKernelRelease(""), OsVersion{});
}

TEST(MachineId, TrimmedAndCutAtAZero)
{
    EXPECT_EQ(machineIdText("3d1219c7c4c5404aaa1f6d2a48adfda4\n"), "3d1219c7c4c5404aaa1f6d2a48adfda4");
    EXPECT_EQ(machineIdText(std::string_view(" abc\0def", 8)), "abc");
    EXPECT_EQ(machineIdText("\n\t \r\n"), "");
}

// What this machine reports must at least hang together.
TEST(LinuxPlatform, ThisMachineIsWellFormed)
{
    LinuxNetworkPlatform network;
    LinuxHostPlatform host;
    const auto adapters = network.adapters();
    const auto routes = network.routeTable();
    const auto statistics = network.ipStatistics();
    ASSERT_TRUE(adapters);
    ASSERT_TRUE(statistics);
    EXPECT_EQ(statistics->routeCount, routes.size());
    EXPECT_GT(statistics->interfaceCount, adapters->size()); // loopback counts but is no adapter
    EXPECT_TRUE(std::is_sorted(adapters->begin(), adapters->end(),
                               [](const Adapter& a, const Adapter& b) { return a.index < b.index; }));
    for (const auto& row : routes)
        EXPECT_NE(row.interfaceIndex, 0u);
    EXPECT_FALSE(host.machineText().empty());
    EXPECT_FALSE(host.hostName().empty());
    EXPECT_GE(host.osVersion().major, 3u);

    const Ipv4 primary = primaryAddress(network);
    if (primary != 0) {
        EXPECT_TRUE(std::any_of(adapters->begin(), adapters->end(),
                                [&](const Adapter& a) { return a.firstAddress == primary; }));
    }
}
