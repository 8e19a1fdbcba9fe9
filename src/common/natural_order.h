#pragma once

#include <string_view>

namespace vandry {

// Orders names as people read them: runs of digits by their value ("track 2" before
// "track 10"), letters without regard to ASCII case, other bytes (UTF-8 included) by value.
// Negative, zero or positive, as a three-way comparison.
int naturalCompare(std::string_view a, std::string_view b);

} // namespace vandry
