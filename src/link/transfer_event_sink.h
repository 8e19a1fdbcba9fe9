#pragma once
// Where a link's reports go: the main window implements it (its task list and message box).

#include <string>

#include "link/link_report.h"
#include "link/transfer_event.h"

namespace vandry {

class TransferEventSink {
public:
    virtual ~TransferEventSink() = default;
    // A report of class 0x10 and above, called synchronously from inside the link. The link has
    // already acted on it (and may have been reset); the sink may start or stop links, this one
    // included. `event` stays valid until that link's next report.
    virtual void taskEvent(const TransferEvent& event, EventType type) = 0;
    // A download's local file cannot be created or lies outside the download root; the window
    // tells the user why. The transfer then ends with a report of its own.
    virtual void localFileFailed(const std::string& path, const std::string& reason) = 0;
};

} // namespace vandry
