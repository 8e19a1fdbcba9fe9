#include "update/feed_answer.h"

#include <optional>

#include "common/hex.h"

namespace vandry {

namespace {

constexpr std::string_view kTestTitle = "<title>test</title>";
constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]>";
constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One left-to-right pass, like a plain replace: a marker formed by a removal stays.
std::string removeAll(std::string_view text, std::string_view marker)
{
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (auto at = text.find(marker); at != std::string_view::npos; at = text.find(marker, from)) {
        out.append(text.substr(from, at - from));
        from = at + marker.size();
    }
    out.append(text.substr(from));
    return out;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

// Pairs of digits up to the first pair that is not two digits, a zero byte (the payload is
// read as a zero-terminated text) or the payload limit.
std::string decodeHexPayload(std::string_view digits)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < digits.size() && out.size() < kMaxFeedPayloadBytes; i += 2) {
        const int high = hexDigitValue(digits[i]);
        const int low = hexDigitValue(digits[i + 1]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            break;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return out;
}

// The element's text when "<name>" occurs at or after `from` and "</name>" follows it.
std::optional<std::string_view> elementTextFrom(std::string_view text, std::string_view name, std::size_t from)
{
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const auto at = text.find(open, from);
    if (at == std::string_view::npos || at == 0)
        return std::nullopt;
    const auto start = at + open.size();
    const auto end = text.find(close, start);
    if (end == std::string_view::npos)
        return std::nullopt;
    return text.substr(start, end - start);
}

// Leading decimal digits reduced to 8 bits, or nullopt without any digit.
std::optional<std::uint8_t> leadingByteNumber(std::string_view& text)
{
    std::size_t used = 0;
    unsigned value = 0;
    while (used < text.size() && isDigit(text[used]))
        value = (value * 10 + static_cast<unsigned>(text[used++] - '0')) & 0xFF;
    if (used == 0)
        return std::nullopt;
    text.remove_prefix(used);
    return static_cast<std::uint8_t>(value);
}

// Leading decimal digits; 0 when there are none or they exceed 65535.
std::uint16_t leadingPort(std::string_view text)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
        if (value > 0xFFFF)
            return 0;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::string unwrapFeedAnswer(std::string_view answer)
{
    const auto title = answer.find(kTestTitle);
    if (title == std::string_view::npos || title == 0)
        return std::string(answer);
    const auto description = elementTextFrom(answer, "description", title);
    if (!description)
        return {};
    const std::string bare = removeAll(removeAll(*description, kCdataOpen), kCdataClose);
    return decodeHexPayload(trimmed(bare));
}

std::string_view elementText(std::string_view text, std::string_view name)
{
    return elementTextFrom(text, name, 0).value_or(std::string_view{});
}

FeedAnswer parseFeedAnswer(std::string_view answer)
{
    const std::string text = unwrapFeedAnswer(answer);
    if (!text.starts_with("<?"))
        return {};
    FeedAnswer out;
    out.version = elementText(text, "Ver");
    out.pageUrl = elementText(text, "UpURL");
    out.fileUrl = elementText(text, "UpFile");
    out.counter = elementText(text, "Counter");
    out.link = elementText(text, "Link");
    out.refer = elementText(text, "Refer");
    out.touch = elementText(text, "Touch");
    out.automatic = elementText(text, "F");
    return out;
}

std::uint32_t parseVersion(std::string_view text)
{
    std::uint32_t packed = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (!text.starts_with('.'))
                return 0;
            text.remove_prefix(1);
        }
        const auto number = leadingByteNumber(text);
        if (!number)
            return 0;
        packed = (packed << 8) | *number;
    }
    return text.empty() ? packed : 0;
}

bool parseAutomaticFlag(std::string_view text)
{
    const auto first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos)
        return false;
    text.remove_prefix(first);
    if (text.front() == '+' || text.front() == '-')
        text.remove_prefix(1);
    for (char c : text) {
        if (!isDigit(c))
            return false;
        if (c != '0')
            return true;
    }
    return false;
}

std::vector<ServerLinkItem> parseServerLink(std::string_view link)
{
    std::vector<ServerLinkItem> items;
    while (items.size() < kMaxServerLinkItems) {
        const auto comma = link.find(',');
        const std::string_view item = link.substr(0, comma);
        if (item.empty())
            break;
        const auto colon = item.find(':');
        ServerLinkItem entry{std::string(item.substr(0, colon)), 0};
        if (colon != std::string_view::npos)
            entry.port = leadingPort(item.substr(colon + 1));
        items.push_back(std::move(entry));
        if (comma == std::string_view::npos)
            break;
        link.remove_prefix(comma + 1);
    }
    return items;
}

std::string checkRequestBody(std::string_view identityText, std::uint32_t flags)
{
    const std::string_view command = flags == 1 ? "CheckUpdates" : "CheckUpdate";
    return "<root><clnt>" + std::string(identityText) + "</clnt><code>" + std::string(command) + "</code></root>";
}

std::string touchRequestBody(std::string_view identityText)
{
    return "<root><clnt>" + std::string(identityText) + "</clnt><code>Touch</code></root>";
}

} // namespace vandry
