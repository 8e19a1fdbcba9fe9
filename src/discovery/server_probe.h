#pragma once
// The server probe: finds the best rendezvous server by sending each listed server a probe
// (type 0) and waiting for the first answer, which makes that server the best one (the answer
// itself arrives on the endpoint's thread). It runs on a short-lived thread of its own, started
// after the update checker stored a server list.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>

#include "app/app_settings.h"

namespace vandry {

class ServerProbe {
public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;
    static constexpr int kProbesPerServer = 3;
    static constexpr std::chrono::milliseconds kProbeInterval{600};
    static constexpr std::uint8_t kIdle = 0;
    static constexpr std::uint8_t kProbing = 2;

    // `probe` sends the probe to server i; `announce` runs at the end when a best server is known.
    ServerProbe(ServerList& servers, std::function<void(std::size_t)> probe, std::function<void()> announce,
                Sleeper sleep);

    // Servers 0-7 in order until the first empty address: up to three probes 600 ms apart, moving
    // on early when a server list arrived meanwhile and stopping as soon as a best server is known.
    // Then the probe state returns to idle and, with a best server, `announce` runs.
    void run();
    // Makes a running or later run() stop after its current wait, without announcing.
    void cancel() { cancelled_.store(true); }

private:
    bool probeOne(std::size_t index);

    ServerList& servers_;
    std::function<void(std::size_t)> probe_;
    std::function<void()> announce_;
    Sleeper sleep_;
    std::atomic<bool> cancelled_{false};
};

// Runs the probe on a thread of its own, one at a time, and stops it when destroyed: stop()
// cuts the current wait short and joins the thread.
class ServerProbeWorker {
public:
    // Without `sleep`, the probe waits on the worker's own stop signal.
    ServerProbeWorker(ServerList& servers, std::function<void(std::size_t)> probe, std::function<void()> announce,
                      ServerProbe::Sleeper sleep = {});
    ~ServerProbeWorker();
    ServerProbeWorker(const ServerProbeWorker&) = delete;
    ServerProbeWorker& operator=(const ServerProbeWorker&) = delete;

    // Safe from any thread. False while a probe is still running, or after stop().
    bool start();
    void stop();
    bool busy() const { return busy_.load(); }

private:
    void waitOrStop(std::chrono::milliseconds interval);

    ServerProbe probe_;
    std::atomic<bool> busy_{false};
    std::mutex threadMutex_; // start() and stop() may come from different threads
    std::thread thread_;
    std::mutex waitMutex_;
    std::condition_variable wake_;
    bool stopping_ = false; // guarded by waitMutex_
};

} // namespace vandry
