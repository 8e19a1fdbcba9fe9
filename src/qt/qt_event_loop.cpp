#include "qt/qt_event_loop.h"

#include <QTimer>

namespace vandry {

namespace {

class QtTimer final : public Timer {
public:
    void start(std::chrono::milliseconds period, std::function<void()> onTick) override
    {
        // A restart replaces the callback; Qt keeps the running one alive if this is called from a tick.
        QObject::disconnect(tick_);
        tick_ = QObject::connect(&timer_, &QTimer::timeout, &timer_, std::move(onTick));
        timer_.start(period);
    }
    void stop() override { timer_.stop(); }

private:
    QTimer timer_;
    QMetaObject::Connection tick_;
};

} // namespace

std::unique_ptr<Timer> QtEventLoop::createTimer()
{
    return std::make_unique<QtTimer>();
}

void QtEventLoop::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

} // namespace vandry
