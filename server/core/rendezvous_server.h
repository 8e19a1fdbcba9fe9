#pragma once
// The rendezvous side of the discovery protocol, over one datagram socket:
//  - type 0 sub-type 1 (probe, payload a 16-byte identity): answered with type 0 sub-type 2 carrying
//    the source port in bytes 4-5 and the source address in bytes 8-11, the copy's public endpoint;
//  - type 1 (announce, payload a 60-byte HostRecord): from an endpoint the copy has not proved yet,
//    answered only with a return-routability check (endpoint_checks.h); once the echo comes back,
//    the copy is admitted (or moved there) with that endpoint as its mapped address and port, sent
//    the full list of its group (list_group.h) and pushed to the group's other members as a type 3
//    sub-type 1 list while the server-wide push budget lasts. A known copy announcing from its
//    endpoint gets a full list when it asks (sub-type 1) or when its last one is getting old, and
//    otherwise only the records of its group changed since its last list, if any (past 200 of them,
//    the prebuilt datagrams of the chunks they fall in);
//  - type 147 sub-type 1: the echo of a check;
//  - type 5 sub-type 0 (relayed request) and the reliable transport's UDT_RELAY: passed on to the
//    live copy they name, at its mapped endpoint (relay_packets.h);
//  - type 149 sub-type 0 (relay_envelope.h): a datagram for another copy, carried to it when both are
//    live here and the sender is at the endpoint it proved, within the relay budget (relay_budget.h).
// With a registry (copy_registry.h), the copies verified here are published to it, and the copies
// other servers published are listed to ours as members of their groups.
// Every source address is held to its limits (source_limits.h); an announce over a limit gets a
// 12-byte refusal (rendezvous_stats.h), itself rate-limited. Nothing a source sends before it has
// proved its endpoint brings back more bytes than it sent. Everything else, and anything of the
// wrong length, is dropped without an answer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/clock.h"
#include "common/socket.h"
#include "discovery/control_datagram.h"
#include "server/core/copy_registry.h"
#include "server/core/copy_table.h"
#include "server/core/endpoint_checks.h"
#include "server/core/relay_budget.h"
#include "server/core/relay_packets.h"
#include "server/core/rendezvous_stats.h"
#include "server/core/source_limits.h"

namespace vandry {

struct RendezvousSettings {
    std::size_t maxCopies = 200'000;
    std::int64_t forgetAfterSeconds = 45; // copies announce every 20 s: two missed announces
    // A copy's neighbours go offline 120 s after they were last listed to it: a list older than this
    // is renewed at the copy's next announce.
    std::int64_t fullListAfterSeconds = 90;
    // Copies ask for a full list (sub-type 1) every 80 s, after a network change and when they
    // start; more often than this the request is answered with the changes only. A copy restarted
    // at once asks again with an empty table, so the gap is short; the source's list budget bounds
    // the rest.
    std::int64_t minFullListGapSeconds = 2;
    // A live identity moves to a new endpoint only once its old endpoint has been silent this long,
    // so that nobody can take over the record of a copy that keeps announcing.
    std::int64_t moveQuietSeconds = 30;
    std::size_t maxUpdateRecords = 200; // more changes than this and the copy gets the full list
    RateLimit pushes{4000, 8192};       // datagrams pushing newcomers, server-wide
    std::size_t maxPendingChecks = 1 << 17;
    std::int64_t checkExpirySeconds = 30;
    SourceLimitSettings limits;
    RelaySettings relay;
};

inline constexpr std::uint8_t kRefusalType = 148;

class RendezvousServer {
public:
    using LogSink = std::function<void(const std::string&)>;

    // Takes over the socket's receive handler until destroyed. `registry` may be null: no sharing.
    RendezvousServer(DatagramSocket& socket, const Clock& clock, RendezvousSettings settings, LogSink log,
                     CopyRegistry* registry = nullptr);
    ~RendezvousServer();
    RendezvousServer(const RendezvousServer&) = delete;
    RendezvousServer& operator=(const RendezvousServer&) = delete;

    void handleDatagram(ByteSpan datagram, Endpoint source);
    // Drops silent copies, expired checks and idle sources; the owner calls this every few seconds.
    void forgetSilentCopies();
    // Every entry the registry holds, from all servers: the others' copies are taken in, updated, and
    // dropped once the registry has expired them.
    void takeRegistrySnapshot(std::span<const RegistryEntry> entries);
    const CopyTable& copies() const { return copies_; }
    const RendezvousStats& stats() const { return stats_; }

private:
    void handleControl(ByteSpan datagram, Endpoint source);
    void answerProbe(ByteSpan datagram, Endpoint source);
    void handleAnnounce(std::uint8_t subType, ByteSpan payload, Endpoint source);
    void handleEcho(ByteSpan datagram, Endpoint source);
    void startCheck(const HostRecord& record, Endpoint source);
    void admit(const HostRecord& record, Endpoint source);
    void moveTo(KeptCopy& copy, const HostRecord& record, Endpoint source);
    void answerKnown(KeptCopy& copy, bool asksForFullList, Endpoint source);
    void sendFullList(KeptCopy& copy, Endpoint to);
    void send(const std::vector<std::uint8_t>& listDatagram, Endpoint to);
    void pushNewcomer(const KeptCopy& copy);
    void refuse(Refusal why, Endpoint source);
    bool quietLongEnough(const KeptCopy& copy) const;
    void publish(const KeptCopy& copy);
    void deliver(const std::optional<RoutedPacket>& packet, const char* what, Endpoint source);
    void carry(ByteSpan datagram, Endpoint source);
    bool isLocalCopyAt(const HostIdentity& identity, Endpoint endpoint) const;

    DatagramSocket& socket_;
    const Clock& clock_;
    RendezvousSettings settings_;
    CopyTable copies_;
    EndpointChecks checks_;
    SourceLimits limits_;
    TokenBucket pushBudget_;
    RelayBudget relayBudget_;
    RendezvousStats stats_;
    LogSink log_;
    CopyRegistry* registry_;
    std::int64_t lastFullTableSweep_ = 0;
    bool refusalLogged_ = false; // one log line per spell of a full table, not one per announce
};

} // namespace vandry
