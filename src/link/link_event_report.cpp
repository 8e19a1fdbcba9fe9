// A link's reports: fill the event, act on the code, log it, tell the main window.

#include <algorithm>

#include "common/hex.h"
#include "link/file_link.h"
#include "link/share_path.h"

namespace vandry {

void FileLink::markTrxferException(const LinkReport& report)
{
    fillEvent(report);
    act(reportAction(report.code));
    env_.log.append(reportLogLine(static_cast<unsigned>(index()), env_.transports.clock.tickMs(), report.text));
    if (reportShown(report.code))
        env_.events.taskEvent(event_, report.type);
}

void FileLink::fillEvent(const LinkReport& report)
{
    event_.code = report.code;
    event_.linkIndex = static_cast<std::uint8_t>(index());
    event_.taskId = taskId_;
    event_.peerIdentity = peer_.identity();
    event_.text = std::string(report.text);
    // Stale parts of the previous report must not pass for this one's.
    event_.path.clear();
    event_.source = {};
    if (reportDescribesFile(report.code))
        describeFile(report.type);
}

bool FileLink::reportAndContinue(const LinkReport& report)
{
    const auto conversation = conversation_;
    markTrxferException(report);
    return conversation == conversation_;
}

void FileLink::describeFile(EventType type)
{
    if (const StreamEntry* entry = stream_.entry()) {
        const auto digest = hexDecode(entry->info.digest(), event_.source.digest.size());
        if (digest)
            std::copy(digest->begin(), digest->end(), event_.source.digest.begin());
        event_.source.sizeLow = static_cast<std::uint32_t>(entry->info.size);
        event_.source.source = type == EventType::PeerBehind ? entry->ownerTask : taskId_;
    } else {
        event_.source = source_;
    }
    if (type == EventType::TransferEnded || type == EventType::FileOpened)
        event_.path = wirePathIsFull(request_.remotePath) ? localFile_ : request_.remotePath;
}

void FileLink::act(ReportAction action)
{
    switch (action) {
    case ReportAction::Nothing:
        return;
    case ReportAction::SendErrorReport: {
        const auto report = encodeErrorReport(event_);
        std::copy(report.begin(), report.end(), sendPayload().begin());
        sendFrame(report.size(), kFrameErrorReport, kSubErrorReport);
        return;
    }
    case ReportAction::EndTransfer:
        onTransferEnd(false);
        return;
    case ReportAction::EndTransferFinished:
        onTransferEnd(true);
        return;
    case ReportAction::ResetLink:
        resetLink();
        return;
    }
}

} // namespace vandry
