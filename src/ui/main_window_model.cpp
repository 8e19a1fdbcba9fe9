#include "ui/main_window_model.h"

#include "ui/tick_schedule.h"

namespace vandry {

MainWindowModel::MainWindowModel(RunningCopy& copy, EventLog& eventLog, MainWindowHost& host)
    : copy_(copy), eventLog_(eventLog), host_(host),
      tasks_([&host](const HostIdentity& task) { return host.countTaskLinks(task); })
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
        if (view_)
            view_->tasksChanged();
    }
    // The scheduler and the share index join the tick with the browse and search subsystem.
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
    neighbourRows_ = vandry::neighbourRows(copy_.neighbours());
    if (view_)
        view_->neighboursChanged();
}

void MainWindowModel::announceRequested()
{
    host_.postToMainThread([this] { announceNow(); });
}

void MainWindowModel::serverListArrived()
{
    host_.runExtraUpdateCheck();
}

void MainWindowModel::taskEvent(const TransferEvent& event, EventType type)
{
    tasks_.onTaskEvent(event, type);
    if (view_)
        view_->tasksChanged();
}

void MainWindowModel::localFileFailed(const std::string& path, const std::string& reason)
{
    if (view_)
        view_->showLocalFileError(path, reason);
}

// Search answers, listings and source replies are shown by the browse and search subsystem.
void MainWindowModel::queryReplyArrived(ByteSpan, Endpoint) {}
void MainWindowModel::listingReplyArrived(ByteSpan) {}
void MainWindowModel::sourceReplyArrived(ByteSpan) {}

} // namespace vandry
