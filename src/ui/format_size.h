#pragma once

#include <cstdint>
#include <string>

namespace vandry {

// The size text of the file lists: "1.0M" above 1 MiB (in tenths of 104857 bytes), "%dK" above
// 1 KiB, else the byte count. Exactly 1048576 bytes shows as "1024K", 1024 bytes as "1024".
std::string formatSize(std::uint64_t bytes);

} // namespace vandry
