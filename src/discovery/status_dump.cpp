#include "discovery/status_dump.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "common/identity.h"
#include "common/text.h"

namespace vandry {

namespace {
// The address whose link the tracker column would show is not settled; none is tracked.
constexpr const char* kTrackerLink = "0.0.0.0";

[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...)
{
    std::va_list args;
    va_start(args, pattern);
    std::va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text;
    if (size > 0) {
        text.resize(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(text.data(), text.size(), pattern, again);
        text.resize(static_cast<std::size_t>(size));
    }
    va_end(again);
    return text;
}

std::string lastSeenText(std::uint32_t lastSeen)
{
    if (lastSeen == 0)
        return "-";
    const std::time_t seconds = lastSeen;
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return "-";
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::uint32_t identityTag(const HostIdentity& identity)
{
    return std::uint32_t{identity[0]} | (std::uint32_t{identity[1]} << 8) | (std::uint32_t{identity[2]} << 16) |
           (std::uint32_t{identity[3]} << 24);
}
} // namespace

std::string statusDump(const NeighbourRecord& record)
{
    const HostRecord& host = record.host;
    std::string text;
    text += format("PortUDP: %d\r\n", host.portUdp);
    text += format("PortTCP: %d\r\n", host.portTcp);
    text += format("MapPort: %d\r\n", host.mapPort);
    text += format("MapAddr: %s\r\n", ipv4ToText(host.mapAddr).c_str());
    text += format("AgtPort: %d\r\n", host.agtPort);
    text += format("AgtAddr: %s\r\n", ipv4ToText(host.agtAddr).c_str());
    text += format("Loading: [0]=%d, [1]=%d\r\n", host.loading[0], host.loading[1]);
    text += format("Hosting: %s\r\n", escapeControlCharacters(host.nickname()).c_str());
    text += format("Identit: %s\r\n", identityText(host.identity).c_str());
    text += format("Actives: %s\r\n", lastSeenText(record.lastSeen).c_str());
    text += format("TrkLink: %s\r\n", kTrackerLink);
    return text;
}

std::string sessionReplyLog(std::size_t payloadLength, std::uint8_t type, std::uint8_t subType,
                            const NeighbourRecord& requester, std::optional<Endpoint> chosen)
{
    std::string text = format("SessionReply: Len=%d,Major=%d,Minor=%d,Direct=%d,Host=%X\r\n",
                              static_cast<int>(payloadLength), type, subType, 0, identityTag(requester.host.identity));
    if (chosen)
        text += format("Conn=%s:%d\r\n", ipv4ToText(chosen->address).c_str(), chosen->port);
    else
        text += format("Host=%s:%d\r\n", ipv4ToText(requester.host.mapAddr).c_str(), requester.host.mapPort);
    return text + statusDump(requester);
}

} // namespace vandry
