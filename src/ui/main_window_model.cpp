#include "ui/main_window_model.h"

#include "store/share_index.h"
#include "ui/browse_reply.h"
#include "ui/tick_schedule.h"

namespace vandry {

MainWindowModel::MainWindowModel(RunningCopy& copy, EventLog& eventLog, MainWindowHost& host, ShareHashTable& hashes)
    : copy_(copy), eventLog_(eventLog), host_(host),
      tasks_([&host](const HostIdentity& task) { return host.countTaskLinks(task); },
             [this](const HostIdentity& task) {
                 int done = 0, total = 0;
                 const int percent = listings_.progress(task, &done, &total);
                 return FolderProgress{percent, done, total};
             }),
      hashes_(hashes), seeds_(copy.platform().clock),
      scheduler_(tasks_, seeds_, hashes_, listings_, copy.neighbours(), host)
{
}

void MainWindowModel::start()
{
    host_.postToMainThread([this] { neighboursArrived(); });
    if (view_)
        view_->loggingChanged(logging());
}

void MainWindowModel::tick()
{
    ++tickCount_;
    const TickSteps steps = stepsForTick(tickCount_);
    if (steps.announce)
        host_.announce(steps.announceForm);
    if (!tasks_.rows().empty()) {
        tasks_.updateProgress(host_.transferProgress());
        linkRates_.update(host_.receivingLinks());
        if (view_)
            view_->tasksChanged();
    }
    expireBrowses();
    expireSearch();
    updateUploads();
    if (view_)
        view_->statusChanged();
    if (steps.runScheduler)
        scheduler_.runScheduler();
    if (steps.rebuildShareIndex)
        host_.rebuildShareIndex();
    if (steps.pollNetwork && copy_.pollNetworkChange())
        host_.postToMainThread([this] { announceNow(); });
    if (steps.sweepIdleLinks)
        host_.sweepIdleLinks();
    if (justHidden_ && steps.trimMemoryIfHidden) {
        justHidden_ = false;
        host_.postToMainThread([this] { host_.trimMemory(); });
    }
}

void MainWindowModel::toggleLogging()
{
    vandry::toggleLogging(copy_.profile(), copy_.settings());
    if (view_)
        view_->loggingChanged(logging());
}

void MainWindowModel::requestLinkDump()
{
    if (!logging())
        return;
    eventLog_.append(linkDumpText(host_.linkSlots()));
    host_.openWithDesktop(eventLog_.path().string());
}

void MainWindowModel::neighboursArrived()
{
    refreshNeighbourRows();
}

void MainWindowModel::announceRequested()
{
    host_.postToMainThread([this] { announceNow(); });
}

void MainWindowModel::serverListArrived()
{
    host_.runExtraUpdateCheck();
}

void MainWindowModel::taskEvent(const TransferEvent& report, EventType type)
{
    // A copy: the link may reuse its report while the handler starts links of its own.
    const TransferEvent event = report;
    const auto row = tasks_.findRow(event.taskId);
    const bool wasFinished = row && tasks_.rows()[*row][kTaskState] == kStateFinished;
    tasks_.onTaskEvent(event, type);
    scheduler_.onTaskEvent(event, type);
    if (!view_)
        return;
    view_->tasksChanged();
    const auto after = tasks_.findRow(event.taskId);
    if (!after)
        return;
    const TaskRow& task = tasks_.rows()[*after];
    if (!wasFinished && task[kTaskState] == kStateFinished)
        view_->taskEnded(task[kTaskName], true, {});
    else if (type == EventType::PeerFailed)
        view_->taskEnded(task[kTaskName], false, event.text);
}

void MainWindowModel::localFileFailed(const std::string& path, const std::string& reason)
{
    if (view_)
        view_->showLocalFileError(path, reason);
}

// Replies to our requests: search answers and listings fill the file list.
void MainWindowModel::queryReplyArrived(ByteSpan payload, Endpoint)
{
    // Copies: a watcher may end its watch (or another's) while being told.
    for (const auto& [ticket, watcher] : std::map(searchWatchers_))
        watcher(payload);
    if (!files_.showSearchReply(payload))
        return;
    ++search_.answers;
    if (view_)
        view_->filesChanged();
}

void MainWindowModel::expireSearch()
{
    if (!search_.waiting || tickCount_ < search_.deadline)
        return;
    search_.waiting = false;
    if (search_.answers == 0 && files_.roots().empty()) {
        files_.showNotice("没有找到“" + search_.text + "”。");
        if (view_)
            view_->filesChanged();
    }
}

void MainWindowModel::updateUploads()
{
    std::map<LinkIndex, UploadView> now;
    uploads_.clear();
    for (UploadView& upload : host_.uploads()) {
        // A link that went on to another file or another peer starts its count afresh.
        const auto before = lastUploads_.find(upload.link);
        const bool same = before != lastUploads_.end() && before->second.file == upload.file &&
                          before->second.peer == upload.peer && before->second.sentBytes <= upload.sentBytes;
        const std::uint64_t gained = upload.sentBytes - (same ? before->second.sentBytes : 0);
        uploads_.push_back({upload.peer, upload.file, upload.sentBytes, gained});
        now.emplace(upload.link, std::move(upload));
    }
    lastUploads_ = std::move(now);
}

StatusFigures MainWindowModel::statusFigures() const
{
    StatusFigures figures;
    // The server answers every announce, one in 20 seconds.
    constexpr std::uint32_t kServerSilenceTicks = 60;
    figures.serverReached = lastServerTick_ != 0 && tickCount_ + 1 - lastServerTick_ <= kServerSilenceTicks;
    for (const NeighbourRow& row : neighbourRows_)
        figures.neighbours += row.slot != NeighbourTable::kLocalSlot;
    for (const TaskRow& row : tasks_.rows())
        if (const TaskFigures* task = tasks_.figures(row[kTaskIdentity]); task && task->running)
            figures.downloadRate += task->bytesPerSecond;
    for (const UploadRow& upload : uploads_)
        figures.uploadRate += upload.bytesPerSecond;
    return figures;
}

std::string MainWindowModel::searchStatus() const
{
    if (search_.text.empty())
        return {};
    const std::string answered = std::to_string(search_.answers);
    if (search_.waiting)
        return "正在搜索“" + search_.text + "”…… " + answered + " 个邻居已应答";
    if (search_.answers == 0)
        return "没有找到“" + search_.text + "”。";
    return "“" + search_.text + "”：" + answered + " 个邻居有结果";
}

void MainWindowModel::listingReplyArrived(ByteSpan payload)
{
    const auto reply = parseBrowseReply(payload);
    if (reply)
        browseAnswered(reply->host.identity);
    if (reply && reply->row < 0) {
        shareAwaited_.reset();
        for (const auto& [ticket, watch] : std::map(listingWatchers_))
            if (watch.host == reply->host.identity && watch.path == reply->path)
                watch.watcher(payload);
    }
    if (files_.showBrowseReply(payload) && view_)
        view_->filesChanged();
}

void MainWindowModel::browse(const NeighbourRecord& target, const std::string& wirePath, std::int32_t row)
{
    // The user looks at a few shares at a time; the oldest wait gives way.
    constexpr std::size_t kMaxPendingBrowses = 16;
    if (pendingBrowses_.size() == kMaxPendingBrowses)
        pendingBrowses_.erase(pendingBrowses_.begin());
    const std::string nickname = target.host.nickname();
    pendingBrowses_.push_back({target.host.identity, nickname, row, tickCount_ + kBrowseAnswerTicks});
    if (row < 0) {
        // The previous share goes at once, so nothing shown belongs to another neighbour.
        files_.showNotice("正在读取“" + nickname + "”的共享目录……");
        search_ = {};
        shareAwaited_ = target.host.identity;
        if (view_)
            view_->filesChanged();
    }
    host_.sendListingRequest(target, wirePath, row);
}

void MainWindowModel::expireBrowses()
{
    bool marked = false;
    std::erase_if(pendingBrowses_, [&](const PendingBrowse& pending) {
        if (tickCount_ < pending.deadline)
            return false;
        marked |= silentHosts_.insert(pending.host).second;
        if (pending.row < 0 && shareAwaited_ == pending.host) {
            shareAwaited_.reset();
            files_.showNotice("邻居“" + pending.nickname + "”没有应答。");
            if (view_)
                view_->filesChanged();
        }
        return true;
    });
    if (marked)
        refreshNeighbourRows();
}

void MainWindowModel::browseAnswered(const HostIdentity& host)
{
    std::erase_if(pendingBrowses_, [&](const PendingBrowse& pending) { return pending.host == host; });
    if (silentHosts_.erase(host))
        refreshNeighbourRows();
}

void MainWindowModel::refreshNeighbourRows()
{
    neighbourRows_ = vandry::neighbourRows(copy_.neighbours());
    for (NeighbourRow& row : neighbourRows_)
        row.silent = silentHosts_.contains(copy_.neighbours().at(row.slot).host.identity);
    if (view_)
        view_->neighboursChanged();
}

void MainWindowModel::startSearch(const std::string& text)
{
    shareAwaited_.reset();
    search_ = {text, tickCount_ + kSearchAnswerTicks, 0, true};
    files_.showNotice("正在搜索“" + text + "”……");
    if (view_)
        view_->filesChanged();
    host_.searchAll(text, kQueryFiles | kQueryFolders | kQueryAnyFolderPath);
}

std::int32_t MainWindowModel::watchListing(const HostIdentity& host, const std::string& wirePath, ReplyWatcher watcher)
{
    const std::int32_t ticket = nextTicket_++;
    listingWatchers_[ticket] = {host, wirePath, std::move(watcher)};
    return ticket;
}

std::int32_t MainWindowModel::watchSearch(ReplyWatcher watcher)
{
    const std::int32_t ticket = nextTicket_++;
    searchWatchers_[ticket] = std::move(watcher);
    return ticket;
}

void MainWindowModel::endWatch(std::int32_t ticket)
{
    listingWatchers_.erase(ticket);
    searchWatchers_.erase(ticket);
}

void MainWindowModel::sourceReplyArrived(ByteSpan payload)
{
    scheduler_.onSourceReply(payload);
}

} // namespace vandry
