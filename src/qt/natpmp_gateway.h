#pragma once
// PortGateway over NAT-PMP with libnatpmp: requests to port 5351 of the default gateway. The
// library retries for two minutes; this gateway gives up after a few seconds instead, since the
// mapper tries again later anyway. Used on the mapping worker only.

#include "portmap/port_gateway.h"

namespace vandry {

class NatPmpGateway final : public PortGateway {
public:
    MappingMethod method() const override { return MappingMethod::NatPmp; }
    std::optional<GatewayFound> find(std::string& error) override;
    GatewayAddResult add(MappedPort kind, std::uint16_t internalPort, std::uint16_t externalPort,
                         std::uint32_t leaseSeconds) override;
    bool remove(MappedPort kind, std::uint16_t internalPort, std::uint16_t externalPort) override;
};

} // namespace vandry
