#include "store/persist_version.h"

#include <limits>

namespace vandry {

namespace {
// The leading decimal digits of `text`, saturating rather than overflowing.
int leadingNumber(std::string_view text)
{
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max())
            return std::numeric_limits<int>::max();
    }
    return static_cast<int>(value);
}

bool lineAccepted(std::string_view line, int expected)
{
    return leadingNumber(line.empty() ? line : line.substr(1)) >= expected;
}
} // namespace

void writeVersionLine(std::ostream& out, int version)
{
    out << 'V' << version << "\r\n";
}

void writeVersionLine(std::string& out, int version)
{
    out += 'V' + std::to_string(version) + "\r\n";
}

bool checkVersionLine(std::istream& in, int expected)
{
    std::string line;
    for (std::size_t i = 0; i < kMaxVersionLine; ++i) {
        const auto c = in.get();
        if (c == std::istream::traits_type::eof())
            return false;
        if (c == '\n')
            return lineAccepted(line, expected);
        line += static_cast<char>(c);
    }
    return false;
}

std::optional<std::size_t> checkVersionLine(std::string_view text, int expected)
{
    const auto feed = text.substr(0, kMaxVersionLine).find('\n');
    if (feed == std::string_view::npos || !lineAccepted(text.substr(0, feed), expected))
        return std::nullopt;
    return feed + 1;
}

} // namespace vandry
