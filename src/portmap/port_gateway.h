#pragma once
// What the port mapper needs from one mapping protocol spoken to the home router (UPnP-IGD or
// NAT-PMP). The calls block for network round trips with time-outs of a few seconds, so they run
// on a worker thread, one at a time; the router's answers are untrusted and already checked.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/ipv4.h"

namespace vandry {

enum class MappingMethod : std::uint8_t { Upnp, NatPmp };
enum class MappedPort : std::uint8_t { Tcp, Udp };

std::string_view methodName(MappingMethod method);
std::string_view portKindName(MappedPort kind);

struct GatewayFound {
    Ipv4 externalAddress = 0; // the router's WAN address as it reports it
};

struct GatewayAddResult {
    enum class Status : std::uint8_t {
        Mapped,    // externalPort and leaseSeconds say what the router granted
        PortTaken, // the external port is mapped to someone else: try another one
        Failed,    // the router refused or did not answer: no other port will do better
    };
    Status status = Status::Failed;
    std::uint16_t externalPort = 0;
    std::uint32_t leaseSeconds = 0; // 0: the router keeps it until it is removed
    std::string error;
};

class PortGateway {
public:
    virtual ~PortGateway() = default;
    virtual MappingMethod method() const = 0;
    // Looks for the router and asks for its external address; the error text when none answers.
    virtual std::optional<GatewayFound> find(std::string& error) = 0;
    // Asks the router found last to forward `externalPort` to this host's `internalPort`.
    virtual GatewayAddResult add(MappedPort kind, std::uint16_t internalPort, std::uint16_t externalPort,
                                 std::uint32_t leaseSeconds) = 0;
    virtual bool remove(MappedPort kind, std::uint16_t internalPort, std::uint16_t externalPort) = 0;
};

} // namespace vandry
