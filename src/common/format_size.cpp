#include "common/format_size.h"

#include <array>
#include <cstdio>

namespace vandry {

std::string formatSize(std::uint64_t bytes)
{
    static constexpr std::array<const char*, 6> kUnits = {"B", "KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    // 1023.96 KB would print as "1024 KB": it is the next unit's 1.0.
    while (value >= 1023.95 && unit + 1 < kUnits.size()) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 9.95 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

std::string formatRate(std::uint64_t bytesPerSecond)
{
    return formatSize(bytesPerSecond) + "/s";
}

} // namespace vandry
