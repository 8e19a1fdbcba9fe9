#pragma once
// The event log "EVT.TXT": one open file per running copy that links, the datagram transport
// and, while logging is on, discovery append their lines to. Safe to call from any thread;
// writes before it is opened, or after opening failed, are dropped.
//
// Much of what is logged is caused by peers, so the log is bounded: appends beyond a byte rate
// are dropped (and counted in one line once appends fit again), and a file that reaches its
// size limit becomes "EVT.TXT.1", replacing the previous one, while a new "EVT.TXT" starts.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "common/clock.h"

namespace vandry {

inline constexpr std::string_view kEventLogName = "EVT.TXT";

class EventLog {
public:
    static constexpr std::uint64_t kMaxFileBytes = 8 << 20;
    static constexpr std::int64_t kBytesPerSecond = 64 << 10;
    static constexpr std::int64_t kBurstBytes = 1 << 20;

    // `clock` (the system clock when null) must outlive the log.
    explicit EventLog(const Clock* clock = nullptr);
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Creates the file anew (an old one is truncated).
    bool open(const std::filesystem::path& path);
    void append(std::string_view text);
    bool isOpen() const;
    std::filesystem::path path() const;

private:
    bool withinRate(std::size_t bytes);
    void write(std::string_view text);

    const Clock& clock_;
    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
    std::uint64_t fileBytes_ = 0;
    std::int64_t tokens_ = kBurstBytes;
    std::uint32_t lastMs_ = 0;
    std::uint64_t droppedLines_ = 0;
};

} // namespace vandry
