#include "common/serial_worker.h"

namespace vandry {

SerialWorker::SerialWorker(Mode mode)
{
    if (mode == Mode::Thread)
        thread_ = std::thread([this] { run(); });
}

SerialWorker::~SerialWorker()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void SerialWorker::post(std::function<void()> job)
{
    if (!thread_.joinable()) {
        job();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        ++posted_;
    }
    changed_.notify_all();
}

void SerialWorker::drain()
{
    std::unique_lock lock(mutex_);
    const std::uint64_t target = posted_;
    changed_.wait(lock, [&] { return done_ >= target; });
}

void SerialWorker::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // stopping, and nothing left
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
        ++done_;
        changed_.notify_all();
    }
}

} // namespace vandry
