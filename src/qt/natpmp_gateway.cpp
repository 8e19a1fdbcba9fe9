#include "qt/natpmp_gateway.h"

// The library carries its error texts; the header declares them only on request.
#define ENABLE_STRNATPMPERR
#include <natpmp.h>
#include <sys/select.h>

#include <chrono>
#include <functional>

namespace vandry {

namespace {
constexpr auto kAnswerTime = std::chrono::milliseconds(1750); // three tries: 250, 500 and 1000 ms

// Sends one request through `send` and waits for its answer; the library's error code otherwise.
int exchange(const std::function<int(natpmp_t&)>& send, natpmpresp_t& response)
{
    natpmp_t session{};
    int result = initnatpmp(&session, 0, 0);
    if (result < 0)
        return result;
    result = send(session);
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTime;
    while (result >= 0) {
        timeval timeout{};
        getnatpmprequesttimeout(&session, &timeout);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(session.s, &readable);
        select(session.s + 1, &readable, nullptr, nullptr, &timeout);
        result = readnatpmpresponseorretry(&session, &response);
        if (result != NATPMP_TRYAGAIN)
            break;
        if (std::chrono::steady_clock::now() >= deadline) {
            result = NATPMP_ERR_NOGATEWAYSUPPORT;
            break;
        }
        result = 0;
    }
    closenatpmp(&session);
    return result;
}

std::string errorText(int code)
{
    const char* text = strnatpmperr(code);
    return text ? std::string(text) : std::to_string(code);
}

int protocolOf(MappedPort kind)
{
    return kind == MappedPort::Tcp ? NATPMP_PROTOCOL_TCP : NATPMP_PROTOCOL_UDP;
}
} // namespace

std::optional<GatewayFound> NatPmpGateway::find(std::string& error)
{
    natpmpresp_t response{};
    const int result = exchange([](natpmp_t& session) { return sendpublicaddressrequest(&session); }, response);
    if (result < 0) {
        error = errorText(result);
        return std::nullopt;
    }
    if (response.type != NATPMP_RESPTYPE_PUBLICADDRESS) {
        error = "an answer of another kind";
        return std::nullopt;
    }
    const Ipv4 address = ntohl(response.pnu.publicaddress.addr.s_addr);
    if (address == 0) {
        error = "the router has no external address";
        return std::nullopt;
    }
    return GatewayFound{address};
}

GatewayAddResult NatPmpGateway::add(MappedPort kind, std::uint16_t internalPort, std::uint16_t externalPort,
                                    std::uint32_t leaseSeconds)
{
    natpmpresp_t response{};
    const int result = exchange(
        [&](natpmp_t& session) {
            return sendnewportmappingrequest(&session, protocolOf(kind), internalPort, externalPort, leaseSeconds);
        },
        response);
    if (result < 0)
        return {GatewayAddResult::Status::Failed, 0, 0, errorText(result)};
    const auto expected = kind == MappedPort::Tcp ? NATPMP_RESPTYPE_TCPPORTMAPPING : NATPMP_RESPTYPE_UDPPORTMAPPING;
    if (response.type != expected || response.pnu.newportmapping.privateport != internalPort)
        return {GatewayAddResult::Status::Failed, 0, 0, "an answer for another mapping"};
    // The router grants the port it can: it never answers "taken".
    return {GatewayAddResult::Status::Mapped,
            response.pnu.newportmapping.mappedpublicport,
            response.pnu.newportmapping.lifetime,
            {}};
}

bool NatPmpGateway::remove(MappedPort kind, std::uint16_t internalPort, std::uint16_t)
{
    natpmpresp_t response{};
    // A lifetime of 0 with public port 0 deletes the mapping of the private port.
    return exchange(
               [&](natpmp_t& session) {
                   return sendnewportmappingrequest(&session, protocolOf(kind), internalPort, 0, 0);
               },
               response) >= 0;
}

} // namespace vandry
