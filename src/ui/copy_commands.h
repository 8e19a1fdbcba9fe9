#pragma once
// The operations both front ends offer: the window's buttons and menus and vandryctl's
// commands call these, so a copy behaves the same however it is driven.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/running_copy.h"
#include "tasks/seeding_rows.h"
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

// A task's download sources, as the seeding view shows them.
struct TaskSources {
    bool known = false; // the file's digest is known, so sources can be looked up
    SourceInfo key;
    std::string refresh; // seconds since the last source lookup, "%d/%d"
    std::vector<SeedingRow> rows;
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

    // Browsing and searching; the answers arrive in the window model's file list. `row` is the
    // file-list item the listing goes under, or -1 for a neighbour's share root.
    bool browseHost(const HostRecord& host, const std::string& wirePath, std::int32_t row);
    bool browseNeighbour(const std::string& neighbourKey, const std::string& wirePath, std::int32_t row);
    void search(const std::string& text);
    // The file list's download commands: `record` as the selection made it.
    DownloadOutcome downloadTo(const TaskRecord& record, const HostRecord& host);

    // The task list's commands, on a row.
    void stopTask(std::size_t row);
    void resumeTask(std::size_t row);
    void deleteTask(std::size_t row, bool withFiles);
    void scheduleUdp(std::size_t row);
    bool viewSource(std::size_t row);
    void openTaskFile(std::size_t row);
    void showTaskFolder(std::size_t row);
    // The facts of the task's property dialog; a folder task's listing is checked against the
    // disk first when it was loaded from its queue file.
    TaskProperties taskProperties(std::size_t row);
    // Ends one link (the property dialog's right click on a link row).
    void closeLink(std::uint8_t slot);
    TaskSources sources(std::size_t row);
    // The neighbour named by its 32 hex digits or its nickname, while it is online.
    std::optional<HostRecord> neighbourRecord(const std::string& key) const;
    MainWindowModel& window() { return window_; }
    // The row of a task given by its identity text (either case), for vandryctl.
    std::optional<std::size_t> taskRow(const std::string& identity) const;

private:
    RunningCopy& copy_;
    MainWindowModel& window_;
    std::function<void()> stop_;
    std::function<HostIdentity()> newIdentity_;

    std::optional<NeighbourSlot> findNeighbour(const std::string& key) const;
    // The row a task command runs on, remembered as the window's context row; nullopt when gone.
    std::optional<TaskRow> contextTask(std::size_t row);

public:
    // Task identities come from here (random by default; tests fix them).
    void setIdentitySource(std::function<HostIdentity()> source) { newIdentity_ = std::move(source); }
};

} // namespace vandry
