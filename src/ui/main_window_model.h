#pragma once
// The main window's logic without the widgets: the one-second tick and its schedule, the
// neighbour list, the window messages from discovery, logging and the link dump. The Qt window
// shows what it holds; tests drive it with a manual clock and fakes.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/running_copy.h"
#include "common/event_log.h"
#include "discovery/discovery_listener.h"
#include "link/link_environment.h"
#include "link/transfer_event_sink.h"
#include "ui/link_dump.h"
#include "ui/neighbour_list.h"
#include "ui/task_list.h"

namespace vandry {

// What the window needs from the rest of the copy.
class MainWindowHost {
public:
    virtual ~MainWindowHost() = default;
    virtual void announce(std::uint8_t form) = 0;
    // The update checker runs one more check with flags 1 (on its own thread).
    virtual void runExtraUpdateCheck() = 0;
    // Queues work for the main thread; safe from any thread.
    virtual void postToMainThread(std::function<void()> work) = 0;
    // Opens a file with the desktop's default program.
    virtual void openWithDesktop(const std::string& path) = 0;
    virtual void trimMemory() = 0;
    // The link table as the dump shows it.
    virtual std::vector<LinkSlotView> linkSlots() const = 0;

    // Transfers: the link table and the stream table.
    virtual void openLink(const LinkRequest& request) = 0;
    virtual int countTaskLinks(const HostIdentity& task) const = 0;
    virtual std::vector<TransferProgress> transferProgress() = 0;
    virtual void sweepIdleLinks() = 0;
};

// What the model tells whatever shows it.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;
    virtual void neighboursChanged() = 0;
    virtual void loggingChanged(bool on) = 0;
    virtual void tasksChanged() = 0;
    // A download's local file cannot be created: tell the user why.
    virtual void showLocalFileError(const std::string& path, const std::string& reason) = 0;
};

class MainWindowModel final : public DiscoveryListener, public TransferEventSink {
public:
    MainWindowModel(RunningCopy& copy, EventLog& eventLog, MainWindowHost& host);

    void setView(MainWindowView* view) { view_ = view; }

    // After the endpoint opened: the first neighbour list, and the logging state for the view.
    void start();
    // Timer 1000, once a second.
    void tick();
    std::uint32_t tickCount() const { return tickCount_; }

    const std::vector<NeighbourRow>& neighbourRows() const { return neighbourRows_; }
    TaskList& tasks() { return tasks_; }
    const TaskList& tasks() const { return tasks_; }
    MainWindowHost& host() { return host_; }
    bool logging() const { return copy_.settings().logging; }

    // Ctrl+Shift+L.
    void toggleLogging();
    // Ctrl+Shift+K and the link dump button: only while logging is on.
    void requestLinkDump();
    // The announce button and MSG_ANNOUNCE.
    void announceNow() { host_.announce(1); }
    // The window went to the notification area: give memory back a few seconds later.
    void windowHidden() { justHidden_ = true; }

    // DiscoveryListener
    void neighboursArrived() override;
    void announceRequested() override;
    void serverListArrived() override;
    void queryReplyArrived(ByteSpan payload, Endpoint source) override;
    void listingReplyArrived(ByteSpan payload) override;
    void sourceReplyArrived(ByteSpan payload) override;

    // TransferEventSink
    void taskEvent(const TransferEvent& event, EventType type) override;
    void localFileFailed(const std::string& path, const std::string& reason) override;

private:
    RunningCopy& copy_;
    EventLog& eventLog_;
    MainWindowHost& host_;
    MainWindowView* view_ = nullptr;
    std::uint32_t tickCount_ = 0;
    bool justHidden_ = false;
    std::vector<NeighbourRow> neighbourRows_;
    TaskList tasks_;
};

} // namespace vandry
