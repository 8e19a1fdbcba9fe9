#pragma once

#include <cstdint>
#include <string>

namespace vandry {

// Sizes as the window shows them, in one style: "14 B", "4.2 MB", "640 KB", "1.5 GB". Units
// step by 1024; below 10 of a unit one decimal is shown, above it none.
std::string formatSize(std::uint64_t bytes);
// A rate in the same style: "424 KB/s".
std::string formatRate(std::uint64_t bytesPerSecond);

} // namespace vandry
