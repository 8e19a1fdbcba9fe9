#pragma once
// The new copy's wait for the copy it replaces: one tick about every second; the older copy
// has ended once it is gone, and on the sixth tick it is ended if it still runs.

#include <chrono>

namespace vandry {

inline constexpr std::chrono::milliseconds kHandOverTickPeriod{1004};
inline constexpr int kHandOverWaitTicks = 6;

class OlderProcess {
public:
    virtual ~OlderProcess() = default;
    virtual bool running() = 0;
    // Ends it; returns once it is gone (or after a short grace when it cannot be seen going).
    virtual void terminate() = 0;
};

class OlderProcessWait {
public:
    // `older` is null when there is none to wait for.
    explicit OlderProcessWait(OlderProcess* older) : older_(older) {}

    // One tick: true once the older process has ended.
    bool tick();
    int ticks() const { return ticks_; }
    // Whether it had to be ended.
    bool terminated() const { return terminated_; }

private:
    OlderProcess* older_;
    int ticks_ = 0;
    bool terminated_ = false;
};

} // namespace vandry
