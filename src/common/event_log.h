#pragma once
// The event log "EVT.TXT": one open file per running copy that links, the datagram transport
// and, while logging is on, discovery append their lines to. Safe to call from any thread;
// writes before it is opened, or after opening failed, are dropped.

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace vandry {

inline constexpr std::string_view kEventLogName = "EVT.TXT";

class EventLog {
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Creates the file anew (an old one is truncated).
    bool open(const std::filesystem::path& path);
    void append(std::string_view text);
    bool isOpen() const;
    std::filesystem::path path() const;

private:
    mutable std::mutex mutex_;
    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
};

} // namespace vandry
