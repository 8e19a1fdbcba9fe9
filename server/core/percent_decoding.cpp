#include "server/core/percent_decoding.h"

#include "common/hex.h"

namespace vandry {

std::optional<std::string> percentDecode(std::string_view text, PlusSign plus)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(plus == PlusSign::Blank && text[i] == '+' ? ' ' : text[i]);
            continue;
        }
        if (text.size() - i < 3 || hexDigitValue(text[i + 1]) < 0 || hexDigitValue(text[i + 2]) < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
        i += 2;
    }
    return out;
}

} // namespace vandry
