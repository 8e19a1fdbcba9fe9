#include "server/core/log_text.h"

namespace vandry {

std::string printableForLog(std::string_view text, std::size_t maxBytes)
{
    std::string out(text.substr(0, maxBytes));
    for (char& c : out)
        if (c < 0x20 || c > 0x7E)
            c = '?';
    return out;
}

} // namespace vandry
