#pragma once
// The main window's logic without the widgets: the one-second tick and its schedule, the
// neighbour list, the window messages from discovery, logging and the link dump. The Qt window
// shows what it holds; tests drive it with a manual clock and fakes.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/running_copy.h"
#include "common/event_log.h"
#include "discovery/discovery_listener.h"
#include "link/link_environment.h"
#include "link/link_table.h"
#include "link/transfer_event_sink.h"
#include "tasks/task_list.h"
#include "tasks/task_properties.h"
#include "tasks/task_scheduler.h"
#include "ui/file_list.h"
#include "ui/link_dump.h"
#include "ui/neighbour_list.h"

namespace vandry {

// What the window needs from the rest of the copy.
class MainWindowHost : public TransferControl {
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

    // Transfers: the link table and the stream table (and TransferControl's operations).
    virtual std::vector<ReceivingLink> receivingLinks() const = 0;
    // Closes the link in that slot, if it is open.
    virtual void closeLink(std::uint8_t slot) = 0;
    virtual std::vector<TransferProgress> transferProgress() = 0;
    virtual void sweepIdleLinks() = 0;
    virtual std::vector<UploadView> uploads() const = 0;

    // Discovery requests of the browse and search commands.
    virtual void sendListingRequest(const NeighbourRecord& target, const std::string& wirePath, std::int32_t row) = 0;
    virtual void searchAll(const std::string& text, std::uint8_t flags) = 0;
    // Walks the share again (off the main thread) and answers queries from the new index.
    virtual void rebuildShareIndex() = 0;
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
    // The file list changed: a listing or a search answer arrived, or a search cleared it.
    virtual void filesChanged() {}
    // Once a second: the status line and the uploads list have new figures.
    virtual void statusChanged() {}
    // A download finished (`finished`) or its sharer refused it (`reason`): the window tells the
    // desktop when it is hidden.
    virtual void taskEnded(const std::string& /*name*/, bool /*finished*/, const std::string& /*reason*/) {}
};

// A file a neighbour is fetching from this copy.
struct UploadRow {
    std::string peer;
    std::string file; // its path in the share, as asked for (wire form)
    std::uint64_t sentBytes = 0;
    std::uint64_t bytesPerSecond = 0;
};

// The figures of the window's status line.
struct StatusFigures {
    bool serverReached = false; // a server's records came within the last minute
    int neighbours = 0;         // other copies listed
    std::uint64_t downloadRate = 0;
    std::uint64_t uploadRate = 0;
};

class MainWindowModel final : public DiscoveryListener, public TransferEventSink {
public:
    MainWindowModel(RunningCopy& copy, EventLog& eventLog, MainWindowHost& host, ShareHashTable& hashes);

    void setView(MainWindowView* view) { view_ = view; }

    // After the endpoint opened: the first neighbour list, and the logging state for the view.
    void start();
    // Timer 1000, once a second.
    void tick();
    std::uint32_t tickCount() const { return tickCount_; }

    const std::vector<NeighbourRow>& neighbourRows() const { return neighbourRows_; }
    FileList& files() { return files_; }
    const FileList& files() const { return files_; }
    TaskList& tasks() { return tasks_; }
    const TaskList& tasks() const { return tasks_; }
    MainWindowHost& host() { return host_; }
    RunningCopy& copy() { return copy_; }
    SeedTable& seeds() { return seeds_; }
    ListingCache& listings() { return listings_; }
    ShareHashTable& hashes() { return hashes_; }
    TaskScheduler& scheduler() { return scheduler_; }
    const LinkRates& linkRates() const { return linkRates_; }
    bool logging() const { return copy_.settings().logging; }

    // Ctrl+Shift+L.
    void toggleLogging();
    // Ctrl+Shift+K and the link dump button: only while logging is on.
    void requestLinkDump();
    // A command changed the task list.
    void tasksUpdated()
    {
        if (view_)
            view_->tasksChanged();
    }
    // A browse of a neighbour: row -1 lists its share anew, another row lists a folder under that
    // item. A neighbour that has not answered after kBrowseAnswerTicks is marked silent in the
    // neighbour list until one of its listings arrives, and a share listing that never came
    // leaves a notice in the file list.
    static constexpr std::uint32_t kBrowseAnswerTicks = 5;
    void browse(const NeighbourRecord& target, const std::string& wirePath, std::int32_t row);
    // Enter in the search box: a new search of every neighbour. The file list says it is searching
    // until the first answer; after kSearchAnswerTicks without any it says nothing was found.
    static constexpr std::uint32_t kSearchAnswerTicks = 5;
    void startSearch(const std::string& text);
    // The text of the search whose answers the file list shows, for highlighting; empty while it
    // shows a share.
    const std::string& searchText() const { return search_.text; }
    const std::vector<UploadRow>& uploads() const { return uploads_; }
    StatusFigures statusFigures() const;
    // "正在搜索“mp3”…… 2 个邻居已应答", "“mp3”：2 个邻居有结果", "没有找到“mp3”。"; empty without a search.
    std::string searchStatus() const;

    // vandryctl waits for the answers of its own requests. A share listing is sent like the
    // window's (row -1) and goes to the file list as well as to the watchers of that host and
    // path; search answers go to every search watcher as well as to the file list.
    using ReplyWatcher = std::function<void(ByteSpan payload)>;
    std::int32_t watchListing(const HostIdentity& host, const std::string& wirePath, ReplyWatcher watcher);
    std::int32_t watchSearch(ReplyWatcher watcher);
    void endWatch(std::int32_t ticket);
    // The announce button and MSG_ANNOUNCE.
    void announceNow() { host_.announce(1); }
    // The window went to the notification area: give memory back a few seconds later.
    void windowHidden() { justHidden_ = true; }

    // DiscoveryListener
    void neighboursArrived() override;
    void announceRequested() override;
    void serverListArrived() override;
    void serverRecordsArrived() override { lastServerTick_ = tickCount_ + 1; }
    void queryReplyArrived(ByteSpan payload, Endpoint source) override;
    void listingReplyArrived(ByteSpan payload) override;
    void sourceReplyArrived(ByteSpan payload) override;

    // TransferEventSink
    void taskEvent(const TransferEvent& event, EventType type) override;
    void localFileFailed(const std::string& path, const std::string& reason) override;

private:
    // The neighbour rows with the silent ones marked.
    void refreshNeighbourRows();
    void expireBrowses();
    void expireSearch();
    void updateUploads();
    void browseAnswered(const HostIdentity& host);

    RunningCopy& copy_;
    EventLog& eventLog_;
    MainWindowHost& host_;
    MainWindowView* view_ = nullptr;
    std::uint32_t tickCount_ = 0;
    bool justHidden_ = false;
    std::vector<NeighbourRow> neighbourRows_;
    struct PendingBrowse {
        HostIdentity host{};
        std::string nickname;
        std::int32_t row = -1;
        std::uint32_t deadline = 0;
    };
    std::vector<PendingBrowse> pendingBrowses_;
    std::set<HostIdentity> silentHosts_;
    std::optional<HostIdentity> shareAwaited_; // the share the file list waits for
    struct SearchState {
        std::string text;
        std::uint32_t deadline = 0;
        int answers = 0;
        bool waiting = false;
    };
    SearchState search_;
    std::uint32_t lastServerTick_ = 0; // tick after the last server records, 0 before any
    std::vector<UploadRow> uploads_;
    std::map<LinkIndex, UploadView> lastUploads_; // a second ago, by link
    FileList files_;
    struct ListingWatch {
        HostIdentity host{};
        std::string path;
        ReplyWatcher watcher;
    };
    std::int32_t nextTicket_ = 0;
    std::map<std::int32_t, ListingWatch> listingWatchers_;
    std::map<std::int32_t, ReplyWatcher> searchWatchers_;
    TaskList tasks_;
    ShareHashTable& hashes_;
    SeedTable seeds_;
    ListingCache listings_;
    TaskScheduler scheduler_;
    LinkRates linkRates_;
};

} // namespace vandry
