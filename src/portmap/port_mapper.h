#pragma once
// PortMapper: keeps the home router forwarding the transfer listener's TCP port and the discovery
// endpoint's UDP port to this copy, so that neighbours behind other translators can open a plain
// TCP link to it. It asks at start, renews at half the lease, tries again with a growing pause
// when no router answers (a router may appear later), asks again at once when the LAN address or
// the UDP port the server sees changes, and removes the mappings at a clean stop.
//
// Gateway calls block, so every round runs through `runOnWorker` (one job at a time, in order);
// its result comes back through the event loop. The worker side keeps its own ledger of what the
// router holds, so that a stop removes even what a round still in flight mapped; such a round
// asks the router nothing more once the stop is asked for, so a quit waits at most for one call.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/event_loop.h"
#include "discovery/host_record.h"
#include "portmap/mapping_round.h"

namespace vandry {

struct PortMapperContext {
    const Clock& clock;
    EventLoop& loop;                                        // where results are handled
    std::function<void(std::function<void()>)> runOnWorker; // runs gateway calls in order
    std::vector<PortGateway*> gateways;                     // in the order they are tried
    std::function<void(const std::string&)> log;            // called from either thread
    std::function<std::uint32_t()> random;                  // picks other external ports
};

struct ActiveMapping {
    MappingMethod method = MappingMethod::Upnp;
    Ipv4 externalAddress = 0;
    PortMapping tcp;
    std::optional<PortMapping> udp;
};

class PortMapper {
public:
    static constexpr std::uint32_t kLeaseSeconds = 3600;
    static constexpr std::int64_t kFirstRetrySeconds = 30;
    static constexpr std::int64_t kLongestRetrySeconds = 600;
    static constexpr std::size_t kOtherPorts = 6;

    explicit PortMapper(PortMapperContext context);
    ~PortMapper();
    PortMapper(const PortMapper&) = delete;
    PortMapper& operator=(const PortMapper&) = delete;

    // Maps the ports of `local` (its TCP and UDP port fields) from now on.
    void start(const HostRecord& local);
    // Once a second: renewal, retry, and a new round when the LAN address or the UDP port the
    // server sees has changed.
    void tick(const HostRecord& local);
    // Removes every mapping made; nothing more is asked of the router afterwards.
    void stop();

    const std::optional<ActiveMapping>& active() const { return active_; }
    // The first round has come back (mapped or not), or none will run.
    bool settled() const { return !started_ || stopped_ || roundsDone_ > 0; }
    // The router's external address and the mapped TCP port, for neighbours to connect to: only
    // while the router's address is the one the server sees us at, since a router behind another
    // translator maps ports that nobody outside can reach.
    std::optional<Endpoint> publishedTcp(const HostRecord& local) const;
    // Seconds until the next round (renewal or retry); for the log and tests.
    std::int64_t nextRoundAt() const { return nextRoundAt_; }

private:
    struct Ledger;

    void startRound(const HostRecord& local);
    void onRound(const MappingRoundResult& result);
    MappingWish wishFor(const HostRecord& local) const;
    std::vector<PortGateway*> gatewayOrder() const;
    void noteAnnounced(const HostRecord& local);

    PortMapperContext context_;
    std::shared_ptr<Ledger> ledger_; // touched only by worker jobs
    std::shared_ptr<int> alive_;     // results that arrive after destruction are dropped
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
    bool started_ = false;
    bool stopped_ = false;
    bool busy_ = false;
    std::uint32_t roundsDone_ = 0;
    std::int64_t nextRoundAt_ = 0;
    std::int64_t retryDelay_ = kFirstRetrySeconds;
    Ipv4 roundLan_ = 0;              // the LAN address the last round ran with
    std::uint16_t roundUdpWish_ = 0; // the UDP port it asked for
    std::optional<ActiveMapping> active_;
    std::optional<bool> announcedBefore_; // whether the last tick found the mapping announceable
};

// Puts the published endpoint into the record's agent fields (zero when none); true when they changed.
bool applyPublishedTcp(HostRecord& local, const std::optional<Endpoint>& published);

} // namespace vandry
