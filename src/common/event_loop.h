#pragma once
// What the core needs from an event loop: repeating timers and posting work to the thread
// that owns the loop. The product runs these on Qt; tests drive them by hand.

#include <chrono>
#include <functional>
#include <memory>

namespace vandry {

class Timer {
public:
    virtual ~Timer() = default;
    // Calls onTick every `period` on the owning thread until stopped or destroyed.
    virtual void start(std::chrono::milliseconds period, std::function<void()> onTick) = 0;
    virtual void stop() = 0;
};

class EventLoop {
public:
    virtual ~EventLoop() = default;
    virtual std::unique_ptr<Timer> createTimer() = 0;
    // Queues `work` to run on the loop's thread; safe to call from any thread.
    virtual void post(std::function<void()> work) = 0;
};

} // namespace vandry
