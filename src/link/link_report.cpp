#include "link/link_report.h"

#include <cstdio>

#include "common/text.h"

namespace vandry {

std::string reportLogLine(unsigned linkIndex, std::uint32_t tickMs, std::string_view text)
{
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%2u %u ", linkIndex, static_cast<unsigned>(tickMs));
    std::string line(prefix);
    line += "MarkTrxferException:";
    // Paths and texts in a report may come from a peer: one report, one line.
    line += escapeControlCharacters(text);
    line += "\r\n";
    return line;
}

} // namespace vandry
