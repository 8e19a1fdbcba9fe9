#pragma once
// Time as the protocol sees it: whole seconds since 1970 for ages and records, and a
// millisecond tick for intervals. Injected everywhere so that tests run on a manual clock.

#include <cstdint>

namespace vandry {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowSeconds() const = 0;
    virtual std::uint32_t tickMs() const = 0;
};

class SystemClock final : public Clock {
public:
    std::int64_t nowSeconds() const override;
    std::uint32_t tickMs() const override;
};

// A clock that moves only when told to; used by tests and simulations.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::int64_t startSeconds = 1'700'000'000) : seconds_(startSeconds) {}
    std::int64_t nowSeconds() const override { return seconds_; }
    std::uint32_t tickMs() const override { return tick_; }
    void advanceSeconds(std::int64_t s)
    {
        seconds_ += s;
        tick_ += static_cast<std::uint32_t>(s * 1000);
    }
    void advanceMs(std::uint32_t ms)
    {
        tick_ += ms;
        subSecondMs_ += ms;
        seconds_ += subSecondMs_ / 1000;
        subSecondMs_ %= 1000;
    }
    void setSeconds(std::int64_t s) { seconds_ = s; }

private:
    std::int64_t seconds_;
    std::uint32_t tick_ = 0;
    std::uint32_t subSecondMs_ = 0;
};

} // namespace vandry
