#include "common/ipv4.h"

#include <charconv>

namespace vandry {

std::string ipv4ToText(Ipv4 address)
{
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
           std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::optional<Ipv4> ipv4FromText(std::string_view text)
{
    Ipv4 result = 0;
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (p == end || *p != '.')
                return std::nullopt;
            ++p;
        }
        if (p == end || *p < '0' || *p > '9')
            return std::nullopt;
        unsigned value = 0;
        auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc{} || value > 255 || next - p > 3)
            return std::nullopt;
        p = next;
        result = (result << 8) | value;
    }
    if (p != end)
        return std::nullopt;
    return result;
}

} // namespace vandry
