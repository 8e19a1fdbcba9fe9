#include "qt/upnp_gateway.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <string>

namespace vandry {

namespace {
constexpr int kSearchMs = 1000; // a router on the LAN answers within milliseconds
constexpr int kConflictInMappingEntry = 718;
constexpr int kOnlyPermanentLeasesSupported = 725;
constexpr const char* kDescription = "vandry";

const char* protocolText(MappedPort kind)
{
    return kind == MappedPort::Tcp ? "TCP" : "UDP";
}

std::string errorText(int code)
{
    const char* text = strupnperror(code);
    return std::to_string(code) + (text ? std::string(" ") + text : std::string());
}
} // namespace

struct UpnpGateway::Router {
    UPNPUrls urls{};
    IGDdatas data{};
    std::string lanAddress; // this host's address towards the router: the mapping's client
    ~Router() { FreeUPNPUrls(&urls); }
};

UpnpGateway::UpnpGateway() = default;
UpnpGateway::~UpnpGateway() = default;

std::optional<GatewayFound> UpnpGateway::find(std::string& error)
{
    router_.reset();
    int searchError = 0;
    UPNPDev* devices = upnpDiscover(kSearchMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &searchError);
    if (!devices) {
        error = "no answer to the search on the LAN";
        return std::nullopt;
    }
    auto router = std::make_unique<Router>();
    char lanAddress[64] = {};
    const int found = UPNP_GetValidIGD(devices, &router->urls, &router->data, lanAddress, sizeof lanAddress);
    freeUPNPDevlist(devices);
    // 2: an IGD that calls itself not connected, or that reports a private external address; the
    // caller judges that address against what the server sees.
    if (found != 1 && found != 2) {
        error = "no Internet gateway device among the answers";
        return std::nullopt;
    }
    router->lanAddress = lanAddress;
    char external[40] = {};
    const int answer = UPNP_GetExternalIPAddress(router->urls.controlURL, router->data.first.servicetype, external);
    const auto address = answer == UPNPCOMMAND_SUCCESS ? ipv4FromText(external) : std::nullopt;
    if (!address || *address == 0) {
        error = "the router did not tell its external address" +
                (answer != UPNPCOMMAND_SUCCESS ? " (" + errorText(answer) + ")" : std::string());
        return std::nullopt;
    }
    router_ = std::move(router);
    return GatewayFound{*address};
}

GatewayAddResult UpnpGateway::add(MappedPort kind, std::uint16_t internalPort, std::uint16_t externalPort,
                                  std::uint32_t leaseSeconds)
{
    if (!router_)
        return {GatewayAddResult::Status::Failed, 0, 0, "no router"};
    const std::string external = std::to_string(externalPort);
    const std::string internal = std::to_string(internalPort);
    const auto ask = [&](std::uint32_t lease) {
        const std::string leaseText = std::to_string(lease);
        return UPNP_AddPortMapping(router_->urls.controlURL, router_->data.first.servicetype, external.c_str(),
                                   internal.c_str(), router_->lanAddress.c_str(), kDescription, protocolText(kind),
                                   nullptr, leaseText.c_str());
    };
    int answer = ask(leaseSeconds);
    if (answer == kOnlyPermanentLeasesSupported) {
        leaseSeconds = 0;
        answer = ask(0);
    }
    if (answer == UPNPCOMMAND_SUCCESS)
        return {GatewayAddResult::Status::Mapped, externalPort, leaseSeconds, {}};
    if (answer == kConflictInMappingEntry)
        return {GatewayAddResult::Status::PortTaken, 0, 0, errorText(answer)};
    return {GatewayAddResult::Status::Failed, 0, 0, errorText(answer)};
}

bool UpnpGateway::remove(MappedPort kind, std::uint16_t, std::uint16_t externalPort)
{
    if (!router_)
        return false;
    const std::string external = std::to_string(externalPort);
    return UPNP_DeletePortMapping(router_->urls.controlURL, router_->data.first.servicetype, external.c_str(),
                                  protocolText(kind), nullptr) == UPNPCOMMAND_SUCCESS;
}

} // namespace vandry
