#include "ui/main_window_model.h"

#include "ui/tick_schedule.h"

namespace vandry {

MainWindowModel::MainWindowModel(RunningCopy& copy, EventLog& eventLog, MainWindowHost& host)
    : copy_(copy), eventLog_(eventLog), host_(host)
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
    // Task progress, the scheduler, the share index and the idle-link sweep join the tick
    // with the transfer subsystems.
    if (steps.pollNetwork && copy_.pollNetworkChange())
        host_.postToMainThread([this] { announceNow(); });
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

// Search answers, listings and source replies are shown by the browse and search subsystem.
void MainWindowModel::queryReplyArrived(ByteSpan, Endpoint) {}
void MainWindowModel::listingReplyArrived(ByteSpan) {}
void MainWindowModel::sourceReplyArrived(ByteSpan) {}

} // namespace vandry
