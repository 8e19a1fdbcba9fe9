#include "common/event_log.h"

namespace vandry {

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
    return file_ != nullptr;
}

void EventLog::append(std::string_view text)
{
    std::lock_guard lock(mutex_);
    if (!file_)
        return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
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
