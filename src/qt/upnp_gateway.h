#pragma once
// PortGateway over UPnP-IGD with miniupnpc: an SSDP search on the LAN for the router's
// description, then SOAP calls to its WAN connection service. Used on the mapping worker only.

#include <memory>

#include "portmap/port_gateway.h"

namespace vandry {

class UpnpGateway final : public PortGateway {
public:
    UpnpGateway();
    ~UpnpGateway() override;
    MappingMethod method() const override { return MappingMethod::Upnp; }
    std::optional<GatewayFound> find(std::string& error) override;
    GatewayAddResult add(MappedPort kind, std::uint16_t internalPort, std::uint16_t externalPort,
                         std::uint32_t leaseSeconds) override;
    bool remove(MappedPort kind, std::uint16_t internalPort, std::uint16_t externalPort) override;

private:
    struct Router;
    std::unique_ptr<Router> router_; // the router found last
};

} // namespace vandry
