#pragma once
// The task list: one row per transfer task, twelve columns of text. The hidden columns hold what
// a task needs to restart; column 4, the task identity, is the key of every event.
//   0 name  1 state  2 progress  3 information  4 identity  5 source HostRecord (120 hex digits)
//   6 local path (a folder task's ends in "/")  7 remote path  8 rate  9 scheduled "1"/"0"
//   10 finished file count  11 attribute byte

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/identity.h"
#include "link/link_records.h"
#include "link/link_report.h"
#include "link/transfer_event.h"

namespace vandry {

enum TaskColumn : std::size_t {
    kTaskName = 0,
    kTaskState = 1,
    kTaskProgress = 2,
    kTaskInfo = 3,
    kTaskIdentity = 4,
    kTaskHost = 5,
    kTaskLocalPath = 6,
    kTaskRemotePath = 7,
    kTaskRate = 8,
    kTaskScheduled = 9,
    kTaskFileCount = 10,
    kTaskAttribute = 11,
    kTaskColumnCount = 12,
};

inline constexpr std::string_view kStateWaiting = "等待连接";
inline constexpr std::string_view kStateHistory = "任务历史";
inline constexpr std::string_view kStateFinished = "结束传输";
inline constexpr std::string_view kStateTransferring = "正在传输";
inline constexpr std::string_view kStateCancelled = "任务取消";

// Progress codes of addTaskRow.
inline constexpr int kProgressFinished = 100;
inline constexpr int kProgressNew = -3;
inline constexpr int kProgressUnknown = -2;

using TaskRow = std::array<std::string, kTaskColumnCount>;

struct AddedTask {
    std::size_t row = 0;
    bool existed = false;     // a row for that local path was there already
    HostIdentity identity{};  // the row's identity (the existing row's when it existed)
    bool hostDiffers = false; // the existing row was started from another host
};

// What a stream entry says of a running download, for the progress and rate columns.
struct TransferProgress {
    HostIdentity ownerTask{};
    std::uint32_t blockCount = 0;
    std::uint32_t receivedKb = 0;
    std::uint32_t* rate = nullptr;       // smoothed K/s, kept here
    std::uint32_t* previousKb = nullptr; // receivedKb a second ago, kept here
    std::uint64_t size = 0;              // the file's size in bytes
};

// What the window shows of a task beside its row, as of the last second its file was open.
struct TaskFigures {
    std::uint64_t doneBytes = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t bytesPerSecond = 0; // 0 once the task stopped running
    int sources = 0;                  // links working for the task
    bool running = false;
};
// Which entries of the task menu apply to a row; the others are shown disabled.
struct TaskActions {
    bool viewSource = true; // the row names its source host
    bool openFile = true;   // a finished file task
    bool stop = true;       // scheduled
    bool resume = true;     // neither scheduled nor finished (also for "UDP 下载")
};
TaskActions taskActions(const TaskRow& row);

// "4.2 MB / 64 MB"; empty before the size is known.
std::string sizeProgressText(const TaskFigures& figures);
// The time left at the current rate, "1:02:03" or "12:05"; empty when not running or stalled.
std::string remainingTimeText(const TaskFigures& figures);

// A folder task's share of finished files, from its cached listings.
struct FolderProgress {
    int percent = 0;
    int doneFiles = 0;
    int totalFiles = 0;
};

class TaskList {
public:
    // How many links work for a task.
    using LinkCounter = std::function<int(const HostIdentity& task)>;
    using FolderProgressSource = std::function<FolderProgress(const HostIdentity& task)>;
    explicit TaskList(LinkCounter countLinks, FolderProgressSource folderProgress = {})
        : countLinks_(std::move(countLinks)), folderProgress_(std::move(folderProgress))
    {
    }

    AddedTask addTaskRow(const TaskRecord& record, const HostIdentity& identity, const std::string& hostHex,
                         int progress, int fileCount);
    void setStateText(std::size_t row, std::string_view text) { rows_.at(row)[kTaskState] = std::string(text); }
    void setProgressText(std::size_t row, std::string_view text) { rows_.at(row)[kTaskProgress] = std::string(text); }
    void setScheduled(std::size_t row, bool on) { rows_.at(row)[kTaskScheduled] = on ? "1" : "0"; }
    void removeRow(std::size_t row) { rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row)); }

    const std::vector<TaskRow>& rows() const { return rows_; }
    std::optional<std::size_t> findRow(const HostIdentity& identity) const;
    static bool isDirectoryTask(const TaskRow& row);

    // A link's report about a task; changes every row of that task.
    void onTaskEvent(const TransferEvent& event, EventType type);
    // Once a second: progress of file tasks and the smoothed rate of every scheduled running task.
    // A task that no longer runs shows no rate.
    void updateProgress(const std::vector<TransferProgress>& transfers);
    // nullptr until the task's file was open once.
    const TaskFigures* figures(const std::string& identityText) const;

private:
    void applyEvent(TaskRow& row, const TransferEvent& event, EventType type);

    void finishTransfer(TaskRow& row, const HostIdentity& task);

    LinkCounter countLinks_;
    FolderProgressSource folderProgress_;
    std::vector<TaskRow> rows_;
    std::map<std::string, TaskFigures> figures_; // by identity text
};

} // namespace vandry
