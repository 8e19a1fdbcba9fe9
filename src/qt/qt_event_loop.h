#pragma once
// The core's event loop on Qt: timers over QTimer and posted work over queued calls, all on the
// thread the QtEventLoop is created in.

#include <QObject>

#include "common/event_loop.h"

namespace vandry {

class QtEventLoop final : public EventLoop {
public:
    // Timers are created on, and tick on, the calling thread: call it on the loop's thread.
    std::unique_ptr<Timer> createTimer() override;
    // Work still queued when this loop is destroyed is dropped, never run.
    void post(std::function<void()> work) override;

private:
    QObject context_; // receives posted work in the loop's thread
};

} // namespace vandry
