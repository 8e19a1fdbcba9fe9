#include "server/core/feed_document.h"

#include "server/core/percent_decoding.h"

namespace vandry {

namespace {
std::string element(std::string_view name, std::string_view value)
{
    return "<" + std::string(name) + ">" + std::string(value) + "</" + std::string(name) + ">";
}

std::string_view elementText(std::string_view text, std::string_view name)
{
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const auto start = text.find(open);
    if (start == std::string_view::npos)
        return {};
    const auto from = start + open.size();
    const auto end = text.find(close, from);
    return end == std::string_view::npos ? std::string_view{} : text.substr(from, end - from);
}

} // namespace

bool isFeedValue(std::string_view value)
{
    return value.find_first_of("<>") == std::string_view::npos;
}

std::string serverListText(const std::vector<Endpoint>& servers)
{
    std::string text;
    for (const auto& server : servers) {
        if (!text.empty())
            text += ",";
        text += ipv4ToText(server.address) + ":" + std::to_string(server.port);
    }
    return text;
}

std::string buildFeedAnswer(const FeedSettings& s)
{
    return "<?xml version=\"1.0\"?><feed>" + element("Ver", s.version) + element("UpURL", s.upgradePage) +
           element("UpFile", s.upgradeFile) + element("F", s.forceUpgrade ? "1" : "0") +
           element("Link", serverListText(s.servers)) + element("Refer", s.referFeed) +
           element("Touch", s.touchAddress) + "</feed>";
}

FeedRequest parseFeedRequest(std::string_view body)
{
    std::optional<std::string> decoded;
    if (body.find('<') == std::string_view::npos && (decoded = percentDecode(body, PlusSign::Blank)))
        body = *decoded;
    return {std::string(elementText(body, "clnt")), std::string(elementText(body, "code"))};
}

} // namespace vandry
