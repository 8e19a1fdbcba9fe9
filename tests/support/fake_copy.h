#pragma once
// A RunningCopy on fakes: a manual clock, a hand-filled network, an in-memory profile.

#include "app/running_copy.h"
#include "fake_platforms.h"
#include "fakes.h"

namespace vandry::testing {

struct FakeCopy {
    FakeCopy()
    {
        network.routes = {{0, 0, ip("192.168.1.1"), 2, 10}};
        network.adapterList = std::vector<Adapter>{{2, "eth0", ip("192.168.1.20"), ip("192.168.1.1")}};
        network.statistics = IpStatistics{2, 1};
        fileSystem.directories = {"/share", "/downloads"};
        profileStore.values["Settings/UpRoot"] = "/share/";
        profileStore.values["Settings/DnRoot"] = "/downloads/";
        profileStore.values["Settings/NikeName"] = "tester";
    }

    ManualClock clock;
    FakeNetwork network;
    FakeHost host;
    FakeFileSystem fileSystem;
    MemoryProfileStore profileStore;
    RunningCopy copy{CopyPlatform{clock, network, host, fileSystem, profileStore}};
};

} // namespace vandry::testing
