#pragma once
// SerialWorker: runs jobs one after another, in the order they were posted, on a thread of its
// own, so that slow work (waiting for the disk) does not hold up the thread that posts it. Inline,
// a job runs at once on the caller's thread instead: tests and tools see every effect in order.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vandry {

class SerialWorker {
public:
    enum class Mode { Inline, Thread };

    explicit SerialWorker(Mode mode);
    // Runs what is queued, then ends the thread.
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    void post(std::function<void()> job);
    // Returns once every job posted before has run.
    void drain();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    std::uint64_t posted_ = 0;
    std::uint64_t done_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace vandry
