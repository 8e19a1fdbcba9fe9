#include "ui/format_size.h"

#include <cstdio>

namespace vandry {

std::string formatSize(std::uint64_t bytes)
{
    char text[32];
    if (bytes > 1048576)
        std::snprintf(text, sizeof text, "%.1fM", static_cast<double>(bytes / 104857) * 0.1);
    else if (bytes > 1024)
        std::snprintf(text, sizeof text, "%dK", static_cast<int>(bytes >> 10));
    else
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(bytes));
    return text;
}

} // namespace vandry
