#include "portmap/port_mapper.h"

#include <algorithm>

namespace vandry {

// What the router holds for this copy, as far as the worker knows: the method that mapped the
// ports last and those mappings.
struct PortMapper::Ledger {
    PortGateway* gateway = nullptr;
    Ipv4 externalAddress = 0;
    std::vector<PortMapping> mappings;
};

namespace {
std::string describe(Ipv4 address, const PortMapping& mapping)
{
    return ipv4ToText(address) + ":" + std::to_string(mapping.externalPort) + "/" +
           std::string(portKindName(mapping.kind)) + " to port " + std::to_string(mapping.internalPort);
}

std::vector<PortMapping> mappingsOf(const MappingRoundResult& result)
{
    std::vector<PortMapping> mappings;
    if (result.tcp)
        mappings.push_back(*result.tcp);
    if (result.udp)
        mappings.push_back(*result.udp);
    return mappings;
}

void removeFromRouter(PortGateway& gateway, Ipv4 address, const PortMapping& mapping,
                      const std::function<void(const std::string&)>& log)
{
    const bool removed = gateway.remove(mapping.kind, mapping.internalPort, mapping.externalPort);
    log(std::string("port mapping: ") + (removed ? "removed " : "could not remove ") +
        std::string(methodName(gateway.method())) + " mapping of " + describe(address, mapping));
}
} // namespace

PortMapper::PortMapper(PortMapperContext context)
    : context_(std::move(context)), ledger_(std::make_shared<Ledger>()), alive_(std::make_shared<int>(0))
{
}

PortMapper::~PortMapper() = default;

void PortMapper::start(const HostRecord& local)
{
    if (started_ || context_.gateways.empty())
        return;
    started_ = true;
    startRound(local);
}

void PortMapper::tick(const HostRecord& local)
{
    if (!started_ || stopped_ || busy_)
        return;
    const bool lanChanged = local.lanPrimary != roundLan_;
    // The server sees the endpoint at another port than the router forwards: ask for that one, once.
    const bool udpMoved = active_ && local.mapAddr == active_->externalAddress && local.mapPort != 0 &&
                          local.mapPort != roundUdpWish_ &&
                          (!active_->udp || active_->udp->externalPort != local.mapPort);
    if (lanChanged || udpMoved || context_.clock.nowSeconds() >= nextRoundAt_)
        startRound(local);
    else
        noteAnnounced(local);
}

void PortMapper::startRound(const HostRecord& local)
{
    busy_ = true;
    roundLan_ = local.lanPrimary;
    const MappingWish wish = wishFor(local);
    roundUdpWish_ = wish.udpExternal;
    std::weak_ptr<int> alive = alive_;
    context_.runOnWorker([this, alive, wish, gateways = gatewayOrder(), ledger = ledger_, log = context_.log,
                          &loop = context_.loop, stopping = stopping_] {
        MappingRoundResult result = runMappingRound(gateways, wish, [&stopping] { return !*stopping; });
        if (result.method) {
            PortGateway* gateway = *std::find_if(gateways.begin(), gateways.end(), [&](PortGateway* candidate) {
                return candidate->method() == *result.method;
            });
            // Mappings of an earlier round that this one did not renew would linger in the router.
            const auto made = mappingsOf(result);
            for (const PortMapping& old : ledger->mappings)
                if (ledger->gateway == gateway && std::none_of(made.begin(), made.end(), [&](const PortMapping& now) {
                        return now.kind == old.kind && now.externalPort == old.externalPort;
                    }))
                    removeFromRouter(*gateway, ledger->externalAddress, old, log);
            *ledger = Ledger{gateway, result.externalAddress, made};
        }
        loop.post([this, alive, result = std::move(result)] {
            if (alive.lock())
                onRound(result);
        });
    });
}

void PortMapper::onRound(const MappingRoundResult& result)
{
    busy_ = false;
    ++roundsDone_;
    if (stopped_)
        return;
    for (const std::string& note : result.notes)
        context_.log("port mapping: " + note);
    const std::int64_t now = context_.clock.nowSeconds();
    if (!result.method) {
        if (active_)
            context_.log("port mapping: the router no longer maps the ports; neighbours use other paths");
        active_.reset();
        context_.log("port mapping: no router mapped the ports; next try in " + std::to_string(retryDelay_) + " s");
        nextRoundAt_ = now + retryDelay_;
        retryDelay_ = std::min(retryDelay_ * 2, kLongestRetrySeconds);
        return;
    }
    active_ = ActiveMapping{*result.method, result.externalAddress, *result.tcp, result.udp};
    retryDelay_ = kFirstRetrySeconds;
    std::uint32_t lease = result.tcp->leaseSeconds;
    if (result.udp && result.udp->leaseSeconds != 0)
        lease = lease == 0 ? result.udp->leaseSeconds : std::min(lease, result.udp->leaseSeconds);
    // A lease of 0 lasts until removed; asking again now and then notices a router that forgot it.
    const std::int64_t renewIn = std::max<std::int64_t>(1, (lease == 0 ? kLeaseSeconds : lease) / 2);
    nextRoundAt_ = now + renewIn;
    std::string text = "port mapping: " + std::string(methodName(*result.method)) + " maps " +
                       describe(result.externalAddress, *result.tcp);
    if (result.udp)
        text += " and " + describe(result.externalAddress, *result.udp);
    context_.log(text + ", lease " + std::to_string(lease) + " s, renewed in " + std::to_string(renewIn) + " s");
}

void PortMapper::stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    if (!started_)
        return;
    *stopping_ = true;
    active_.reset();
    context_.runOnWorker([ledger = ledger_, log = context_.log] {
        if (ledger->gateway)
            for (const PortMapping& mapping : ledger->mappings)
                removeFromRouter(*ledger->gateway, ledger->externalAddress, mapping, log);
        *ledger = Ledger{};
    });
}

MappingWish PortMapper::wishFor(const HostRecord& local) const
{
    MappingWish wish;
    wish.tcpPort = local.portTcp;
    wish.udpPort = local.portUdp;
    wish.leaseSeconds = kLeaseSeconds;
    // Keep the external port neighbours already know; at first, the listener's own.
    wish.tcpExternal = active_ ? active_->tcp.externalPort : local.portTcp;
    // Forwarding the port under which the server sees the endpoint makes that address reachable
    // by anyone, not only by those the endpoint sent to first.
    wish.udpExternal = local.mapPort != 0 ? local.mapPort : local.portUdp;
    for (std::size_t i = 0; i < kOtherPorts; ++i)
        wish.others.push_back(static_cast<std::uint16_t>(1024 + context_.random() % (65536 - 1024)));
    return wish;
}

std::vector<PortGateway*> PortMapper::gatewayOrder() const
{
    std::vector<PortGateway*> order = context_.gateways;
    if (active_)
        std::stable_partition(order.begin(), order.end(),
                              [this](PortGateway* gateway) { return gateway->method() == active_->method; });
    return order;
}

std::optional<Endpoint> PortMapper::publishedTcp(const HostRecord& local) const
{
    if (!active_ || active_->externalAddress == 0 || active_->externalAddress != local.mapAddr)
        return std::nullopt;
    return Endpoint{active_->externalAddress, active_->tcp.externalPort};
}

void PortMapper::noteAnnounced(const HostRecord& local)
{
    if (!active_ || local.mapAddr == 0)
        return;
    const bool announced = publishedTcp(local).has_value();
    if (announcedBefore_ == announced)
        return;
    announcedBefore_ = announced;
    if (!announced)
        context_.log("port mapping: the router's address " + ipv4ToText(active_->externalAddress) +
                     " is not the one the server sees (" + ipv4ToText(local.mapAddr) +
                     "): another translator sits in between, so neighbours are not told of the mapping");
}

bool applyPublishedTcp(HostRecord& local, const std::optional<Endpoint>& published)
{
    const Ipv4 address = published ? published->address : 0;
    const std::uint16_t port = published ? published->port : 0;
    if (local.agtAddr == address && local.agtPort == port)
        return false;
    local.agtAddr = address;
    local.agtPort = port;
    return true;
}

} // namespace vandry
