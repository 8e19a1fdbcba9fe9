#include "common/event_log.h"

#include <algorithm>
#include <string>

namespace vandry {

namespace {
const Clock& systemClock()
{
    static const SystemClock clock;
    return clock;
}
} // namespace

EventLog::EventLog(const Clock* clock) : clock_(clock ? *clock : systemClock()), lastMs_(clock_.tickMs()) {}

EventLog::~EventLog()
{
    if (file_)
        std::fclose(file_);
}

bool EventLog::open(const std::filesystem::path& path)
{
    std::lock_guard lock(mutex_);
    if (file_)
        std::fclose(file_);
    file_ = std::fopen(path.c_str(), "wb");
    path_ = path;
    fileBytes_ = 0;
    return file_ != nullptr;
}

void EventLog::append(std::string_view text)
{
    std::lock_guard lock(mutex_);
    if (!file_)
        return;
    if (!withinRate(text.size())) {
        ++droppedLines_;
        return;
    }
    if (droppedLines_ > 0) {
        write("(" + std::to_string(droppedLines_) + " entries dropped: too many at once)\r\n");
        droppedLines_ = 0;
    }
    write(text);
}

bool EventLog::withinRate(std::size_t bytes)
{
    const std::uint32_t now = clock_.tickMs();
    const std::uint32_t elapsed = now - lastMs_; // the tick wraps; the difference does not
    lastMs_ = now;
    tokens_ = std::min(kBurstBytes, tokens_ + std::int64_t{elapsed} * kBytesPerSecond / 1000);
    if (tokens_ < static_cast<std::int64_t>(bytes))
        return false;
    tokens_ -= static_cast<std::int64_t>(bytes);
    return true;
}

void EventLog::write(std::string_view text)
{
    if (fileBytes_ + text.size() > kMaxFileBytes) {
        std::fclose(file_);
        std::error_code ignored;
        std::filesystem::rename(path_, std::filesystem::path(path_.string() + ".1"), ignored);
        file_ = std::fopen(path_.c_str(), "wb");
        fileBytes_ = 0;
        if (!file_)
            return;
    }
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
    fileBytes_ += text.size();
}

bool EventLog::isOpen() const
{
    std::lock_guard lock(mutex_);
    return file_ != nullptr;
}

std::filesystem::path EventLog::path() const
{
    std::lock_guard lock(mutex_);
    return path_;
}

} // namespace vandry
