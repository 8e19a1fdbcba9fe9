#include <gtest/gtest.h>

#include <thread>

#include "app/app_settings.h"

using namespace vandry;

TEST(ServerList, StartsWithTheDefaultPortsAndNoBestServer)
{
    ServerList servers;
    EXPECT_EQ(servers.best(), -1);
    EXPECT_EQ(servers.entry(0), (ServerList::Entry{"", 3333}));
    EXPECT_EQ(servers.entry(2).port, 1552);
    EXPECT_EQ(servers.entry(3).port, 0);
    EXPECT_EQ(servers.entry(99), ServerList::Entry{}); // out of range reads as unused
}

TEST(ServerList, BestServerOnlyMovesToASmallerIndex)
{
    ServerList servers;
    EXPECT_TRUE(servers.offerBest(2));
    EXPECT_FALSE(servers.offerBest(2));
    EXPECT_FALSE(servers.offerBest(5));
    EXPECT_TRUE(servers.offerBest(0));
    EXPECT_EQ(servers.best(), 0);
}

TEST(ServerList, WritersAndReadersOnTwoThreadsSeeWholeEntries)
{
    ServerList servers;
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i)
            servers.setEntry(i % kServerCount, i % 2 ? "10.0.0.1" : "192.168.100.200", static_cast<std::uint16_t>(i));
    });
    for (int i = 0; i < 2000; ++i) {
        const auto entry = servers.entry(i % kServerCount);
        EXPECT_TRUE(entry.address.empty() || entry.address == "10.0.0.1" || entry.address == "192.168.100.200");
    }
    writer.join();
    servers.clearAddresses();
    for (const auto& entry : servers.entries())
        EXPECT_TRUE(entry.address.empty());
}
