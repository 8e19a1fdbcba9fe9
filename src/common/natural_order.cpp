#include "common/natural_order.h"

namespace vandry {

namespace {
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The digit run at the front of `text`, without its leading zeros.
std::string_view digitRun(std::string_view text, std::size_t& length)
{
    length = 0;
    while (length < text.size() && isDigit(text[length]))
        ++length;
    std::string_view run = text.substr(0, length);
    while (run.size() > 1 && run.front() == '0')
        run.remove_prefix(1);
    return run;
}
} // namespace

int naturalCompare(std::string_view a, std::string_view b)
{
    while (!a.empty() && !b.empty()) {
        if (isDigit(a.front()) && isDigit(b.front())) {
            std::size_t lengthA = 0;
            std::size_t lengthB = 0;
            const std::string_view runA = digitRun(a, lengthA);
            const std::string_view runB = digitRun(b, lengthB);
            // More significant digits is the larger number; the same count compares digit by digit.
            if (runA.size() != runB.size())
                return runA.size() < runB.size() ? -1 : 1;
            if (const int order = runA.compare(runB); order != 0)
                return order;
            a.remove_prefix(lengthA);
            b.remove_prefix(lengthB);
            continue;
        }
        const auto ca = static_cast<unsigned char>(lower(a.front()));
        const auto cb = static_cast<unsigned char>(lower(b.front()));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        a.remove_prefix(1);
        b.remove_prefix(1);
    }
    if (a.size() != b.size())
        return a.empty() ? -1 : 1;
    return 0;
}

} // namespace vandry
