#pragma once
// The operations both front ends offer: the window's buttons and menus and vandryctl's
// commands call these, so a copy behaves the same however it is driven.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/running_copy.h"
#include "ui/main_window_model.h"

namespace vandry {

struct CopyStatus {
    std::string identity;
    std::string nickname;
    Ipv4 primaryLan = 0;
    Ipv4 secondaryLan = 0;
    std::uint16_t udpPort = 0;
    std::uint16_t tcpPort = 0;
    std::string bestServer; // "address:port" as the server list names it; empty while none is known
    Endpoint mapped;        // how the best server sees us; 0 until it answered
    std::string shareRoot;
    std::string downloadRoot;
    bool logging = false;
};

struct DownloadOutcome {
    bool started = false;
    std::string error;        // why not, when not started
    std::string taskIdentity; // the task's identity text
    bool reusedRow = false;   // the local path was a task already
};

class CopyCommands {
public:
    CopyCommands(RunningCopy& copy, MainWindowModel& window, std::function<void()> stop);

    CopyStatus status() const;
    const std::vector<NeighbourRow>& neighbours() const { return window_.neighbourRows(); }
    // Announces this copy to the best server now; false when no server is known yet.
    bool announce();
    // Runs the stop sequence.
    void quit() { stop_(); }

    // Downloads `remotePath` (relative to the neighbour's share, "\" separators, as on the wire)
    // from the neighbour named by its 32 hex digits or its nickname, to `localPath` or, when
    // empty, to the download folder under the file's own name.
    DownloadOutcome download(const std::string& neighbour, std::string remotePath, const std::string& localPath);
    const std::vector<TaskRow>& tasks() const { return window_.tasks().rows(); }

private:
    RunningCopy& copy_;
    MainWindowModel& window_;
    std::function<void()> stop_;
    std::function<HostIdentity()> newIdentity_;

    std::optional<NeighbourSlot> findNeighbour(const std::string& key) const;

public:
    // Task identities come from here (random by default; tests fix them).
    void setIdentitySource(std::function<HostIdentity()> source) { newIdentity_ = std::move(source); }
};

} // namespace vandry
