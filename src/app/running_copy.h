#pragma once
// One running copy: its settings and tables, and the platform it runs on. Everything a copy
// keeps lives here rather than in globals, so that a test can run several copies side by side.

#include <cstdint>
#include <string>

#include "app/app_settings.h"
#include "app/file_system.h"
#include "app/network_platform.h"
#include "app/profile.h"
#include "common/clock.h"
#include "discovery/neighbour_table.h"

namespace vandry {

struct CopyPlatform {
    const Clock& clock;
    const NetworkPlatform& network;
    const HostPlatform& host;
    const FileSystemQueries& fileSystem;
    ProfileStore& profileStore;
};

// Why a copy cannot start without asking the user first.
enum class MissingRoot { None, ShareRoot, DownloadRoot };

class RunningCopy {
public:
    explicit RunningCopy(CopyPlatform platform);

    AppSettings& settings() { return settings_; }
    const AppSettings& settings() const { return settings_; }
    NeighbourTable& neighbours() { return neighbours_; }
    const NeighbourTable& neighbours() const { return neighbours_; }
    Profile& profile() { return profile_; }
    const CopyPlatform& platform() const { return platform_; }
    const HostRecord& localRecord() const { return neighbours_.local().host; }
    void setLocalRecord(const HostRecord& record) { neighbours_.setLocal(record); }

    // Rebuilds the local record from the machine and the profile's nickname.
    void refreshLocalRecord();
    // The first network snapshot, taken right after the local record is built.
    void takeNetworkSnapshot();
    // Loads the roots and the logging flag; says which root, if any, the user must still choose.
    MissingRoot loadSettings();
    // Polls for a changed network; on a change rebuilds the local record and answers true,
    // meaning: announce the copy again.
    bool pollNetworkChange();

private:
    CopyPlatform platform_;
    AppSettings settings_;
    Profile profile_;
    NeighbourTable neighbours_;
};

} // namespace vandry
