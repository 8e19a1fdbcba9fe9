#include "common/text.h"

#include <algorithm>

namespace vandry {

std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    // Step back over continuation bytes to the lead byte of the split character, then drop it.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

std::string fixedFieldText(ByteSpan field)
{
    const auto zero = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), zero);
}

void storeFixedFieldText(MutableByteSpan field, std::string_view text)
{
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    if (field.empty())
        return;
    const auto cut = utf8Prefix(text, field.size() - 1);
    std::copy(cut.begin(), cut.end(), field.begin());
}

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace vandry
