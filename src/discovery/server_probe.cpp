#include "discovery/server_probe.h"

#include <system_error>

namespace vandry {

ServerProbe::ServerProbe(ServerList& servers, std::function<void(std::size_t)> probe, std::function<void()> announce,
                         Sleeper sleep)
    : servers_(servers), probe_(std::move(probe)), announce_(std::move(announce)), sleep_(std::move(sleep))
{
}

void ServerProbe::run()
{
    for (std::size_t i = 0; i < kServerCount && !cancelled_.load(); ++i) {
        if (servers_.entry(i).address.empty())
            break;
        if (probeOne(i))
            break;
    }
    servers_.probeState.store(kIdle);
    if (!cancelled_.load() && servers_.best() >= 0)
        announce_();
}

// True when the whole probe is over: a best server is known, or the probe was cancelled.
bool ServerProbe::probeOne(std::size_t index)
{
    servers_.probeState.store(kProbing);
    for (int sent = 0; sent < kProbesPerServer; ++sent) {
        probe_(index);
        sleep_(kProbeInterval);
        if (cancelled_.load() || servers_.best() >= 0)
            return true;
        // A server list arrived meanwhile (the state counts lists): this server had its chance.
        if (servers_.probeState.load() != kProbing)
            return false;
    }
    return false;
}

ServerProbeWorker::ServerProbeWorker(ServerList& servers, std::function<void(std::size_t)> probe,
                                     std::function<void()> announce, ServerProbe::Sleeper sleep)
    : probe_(
          servers, std::move(probe), std::move(announce),
          sleep ? std::move(sleep) : [this](std::chrono::milliseconds interval) { waitOrStop(interval); })
{
}

ServerProbeWorker::~ServerProbeWorker()
{
    stop();
}

bool ServerProbeWorker::start()
{
    std::lock_guard lock(threadMutex_);
    {
        std::lock_guard wait(waitMutex_);
        if (stopping_)
            return false;
    }
    if (busy_.exchange(true))
        return false;
    // The previous run has cleared the busy flag as its last step, so this join is immediate.
    if (thread_.joinable())
        thread_.join();
    try {
        thread_ = std::thread([this] {
            probe_.run();
            busy_.store(false);
        });
    } catch (const std::system_error&) {
        // No thread to be had: no probe this time; the update checker asks again with the next list.
        busy_.store(false);
        return false;
    }
    return true;
}

void ServerProbeWorker::stop()
{
    std::lock_guard lock(threadMutex_);
    {
        std::lock_guard wait(waitMutex_);
        stopping_ = true;
    }
    probe_.cancel();
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void ServerProbeWorker::waitOrStop(std::chrono::milliseconds interval)
{
    std::unique_lock lock(waitMutex_);
    wake_.wait_for(lock, interval, [this] { return stopping_; });
}

} // namespace vandry
