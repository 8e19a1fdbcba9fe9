#include "tasks/task_list.h"

#include <algorithm>
#include <cstdio>

#include "common/format_size.h"
#include "discovery/host_record.h"

namespace vandry {

namespace {
std::string percentText(std::uint64_t percent)
{
    return std::to_string(percent) + "%";
}

// The part of a local path after its last separator; a folder's trailing separator is ignored.
std::string displayName(std::string path)
{
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

bool TaskList::isDirectoryTask(const TaskRow& row)
{
    return !row[kTaskLocalPath].empty() && row[kTaskLocalPath].back() == '/';
}

AddedTask TaskList::addTaskRow(const TaskRecord& record, const HostIdentity& identity, const std::string& hostHex,
                               int progress, int fileCount)
{
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i][kTaskLocalPath] != record.localPath)
            continue;
        AddedTask existing{i, true, identity, rows_[i][kTaskHost] != hostHex};
        if (const auto parsed = identityFromText(rows_[i][kTaskIdentity]))
            existing.identity = *parsed;
        return existing;
    }
    TaskRow row;
    row[kTaskName] = displayName(record.localPath);
    row[kTaskState] = std::string(progress == kProgressFinished ? kStateFinished
                                  : progress == kProgressNew    ? kStateWaiting
                                                                : kStateHistory);
    if (progress >= 0)
        row[kTaskProgress] = percentText(static_cast<std::uint64_t>(progress));
    else if (progress == kProgressUnknown)
        row[kTaskProgress] = "N/A";
    row[kTaskIdentity] = identityText(identity);
    row[kTaskHost] = hostHex;
    row[kTaskLocalPath] = record.localPath;
    row[kTaskRemotePath] = record.remotePath;
    row[kTaskScheduled] = "0";
    row[kTaskFileCount] = std::to_string(fileCount);
    row[kTaskAttribute] = std::to_string(record.attribute);
    rows_.push_back(std::move(row));
    return {rows_.size() - 1, false, identity, false};
}

std::optional<std::size_t> TaskList::findRow(const HostIdentity& identity) const
{
    const std::string key = identityText(identity);
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i][kTaskIdentity] == key)
            return i;
    return std::nullopt;
}

void TaskList::onTaskEvent(const TransferEvent& event, EventType type)
{
    const std::string key = identityText(event.taskId);
    for (TaskRow& row : rows_)
        if (row[kTaskIdentity] == key)
            applyEvent(row, event, type);
}

void TaskList::applyEvent(TaskRow& row, const TransferEvent& event, EventType type)
{
    switch (type) {
    case EventType::Status:
    case EventType::NetworkLost:
    case EventType::ConnectFailed:
        // With several links on one task, one link's news is not the task's state.
        if (countLinks_(event.taskId) < 2)
            row[kTaskState] = event.text;
        return;
    case EventType::PeerFailed:
        row[kTaskState] = event.text;
        return;
    case EventType::FileOpened:
        row[kTaskState] = std::string(kStateTransferring);
        row[kTaskInfo] = event.text;
        // A folder task says which of its files it is on: "(3/12) /path/of/the/file".
        if (isDirectoryTask(row) && folderProgress_) {
            const FolderProgress folder = folderProgress_(event.taskId);
            row[kTaskInfo] = "(" + std::to_string(std::min(folder.doneFiles + 1, folder.totalFiles)) + "/" +
                             std::to_string(folder.totalFiles) + ") " + event.text;
        }
        return;
    case EventType::TransferEnded:
        finishTransfer(row, event.taskId);
        return;
    case EventType::SegmentsDone:
    case EventType::PeerBehind:
    case EventType::FileServed:
        return;
    }
}

// A file is complete: a file task is finished; a folder task only when every file is.
void TaskList::finishTransfer(TaskRow& row, const HostIdentity& task)
{
    std::string progress = percentText(100);
    if (isDirectoryTask(row) && folderProgress_) {
        const FolderProgress folder = folderProgress_(task);
        row[kTaskFileCount] = std::to_string(folder.doneFiles);
        progress = percentText(static_cast<std::uint64_t>(std::max(folder.percent, 0)));
    }
    row[kTaskProgress] = progress;
    if (progress == percentText(100)) {
        row[kTaskScheduled] = "0";
        row[kTaskState] = std::string(kStateFinished);
    }
}

void TaskList::updateProgress(const std::vector<TransferProgress>& transfers)
{
    // Figures of removed tasks go; those of the rest wait for this second's news.
    std::erase_if(figures_, [this](const auto& entry) {
        return std::none_of(rows_.begin(), rows_.end(),
                            [&](const TaskRow& row) { return row[kTaskIdentity] == entry.first; });
    });
    for (auto& [key, figures] : figures_) {
        figures.running = false;
        figures.bytesPerSecond = 0;
        figures.sources = 0;
    }
    for (const TransferProgress& transfer : transfers) {
        if (isZero(transfer.ownerTask) || transfer.blockCount == 0)
            continue;
        const std::string key = identityText(transfer.ownerTask);
        const auto row = std::find_if(rows_.begin(), rows_.end(), [&](const TaskRow& r) {
            return r[kTaskIdentity] == key && r[kTaskScheduled] == "1";
        });
        if (row == rows_.end())
            continue;
        if (!isDirectoryTask(*row))
            (*row)[kTaskProgress] =
                percentText(static_cast<std::uint32_t>(std::uint64_t{transfer.receivedKb} * 100 / transfer.blockCount));
        const std::uint32_t gained =
            transfer.receivedKb > *transfer.previousKb ? transfer.receivedKb - *transfer.previousKb : 0;
        *transfer.rate = (*transfer.rate + 2 * gained) / 3;
        *transfer.previousKb = transfer.receivedKb;
        TaskFigures& figures = figures_[key];
        figures.totalBytes = transfer.size != 0 ? transfer.size : std::uint64_t{transfer.blockCount} * 1024;
        figures.doneBytes = std::min(std::uint64_t{transfer.receivedKb} * 1024, figures.totalBytes);
        figures.bytesPerSecond = std::uint64_t{*transfer.rate} * 1024;
        figures.sources = countLinks_(transfer.ownerTask);
        figures.running = true;
    }
    for (TaskRow& row : rows_) {
        const auto figures = figures_.find(row[kTaskIdentity]);
        const bool running = figures != figures_.end() && figures->second.running;
        row[kTaskRate] = running ? formatRate(figures->second.bytesPerSecond) : std::string();
    }
}

const TaskFigures* TaskList::figures(const std::string& identityText) const
{
    const auto found = figures_.find(identityText);
    return found == figures_.end() ? nullptr : &found->second;
}

TaskActions taskActions(const TaskRow& row)
{
    const bool scheduled = row[kTaskScheduled] == "1";
    const bool finished = row[kTaskState] == kStateFinished;
    TaskActions actions;
    actions.viewSource = hostRecordFromHex(row[kTaskHost]).has_value();
    actions.openFile = finished && !TaskList::isDirectoryTask(row);
    actions.stop = scheduled;
    actions.resume = !scheduled && !finished;
    return actions;
}

std::string sizeProgressText(const TaskFigures& figures)
{
    if (figures.totalBytes == 0)
        return {};
    return formatSize(figures.doneBytes) + " / " + formatSize(figures.totalBytes);
}

std::string remainingTimeText(const TaskFigures& figures)
{
    if (!figures.running || figures.bytesPerSecond == 0 || figures.doneBytes >= figures.totalBytes)
        return {};
    const std::uint64_t seconds =
        (figures.totalBytes - figures.doneBytes + figures.bytesPerSecond - 1) / figures.bytesPerSecond;
    char text[40];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
    return text;
}

} // namespace vandry
