#pragma once
// The server's log: one time-stamped line per notable event, on standard error.

#include <string>

namespace vandry {

void logLine(const std::string& text);

} // namespace vandry
