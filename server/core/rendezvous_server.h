#pragma once
// The rendezvous side of the discovery protocol, over one datagram socket:
//  - type 0 sub-type 1 (probe, payload a 16-byte identity): answered with type 0 sub-type 2 carrying
//    the source port in bytes 4-5 and the source address in bytes 8-11, the copy's public endpoint;
//  - type 1 (announce, payload a 60-byte HostRecord): the record is kept with the observed source as
//    its mapped address and port, and answered with type 2 lists of the other live copies; a copy
//    that is new (or seen from a new endpoint) is also pushed to every other live copy as a type 3
//    sub-type 1 list, which makes their lists converge without waiting for their next announce;
//  - type 5 sub-type 0 (relayed request) and the reliable transport's UDT_RELAY: passed on to the
//    live copy they name, at its mapped endpoint (relay_packets.h).
// Everything else, and anything of the wrong length, is dropped without an answer. Memory is bounded
// by the copy table's capacity; no single datagram makes the server keep more than one record.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/clock.h"
#include "common/socket.h"
#include "discovery/control_datagram.h"
#include "discovery/neighbour_table.h"
#include "server/core/copy_table.h"
#include "server/core/relay_packets.h"

namespace vandry {

struct RendezvousSettings {
    std::size_t maxCopies = 10000;
    std::int64_t forgetAfterSeconds = 45; // copies announce every 20 s: two missed announces
};

class RendezvousServer {
public:
    using LogSink = std::function<void(const std::string&)>;
    // A copy's neighbour table has room for 2047 others; a longer list would be dropped there.
    static constexpr std::size_t kMaxListedCopies = NeighbourTable::kSlots - 1;

    // Takes over the socket's receive handler until destroyed.
    RendezvousServer(DatagramSocket& socket, const Clock& clock, RendezvousSettings settings, LogSink log);
    ~RendezvousServer();
    RendezvousServer(const RendezvousServer&) = delete;
    RendezvousServer& operator=(const RendezvousServer&) = delete;

    void handleDatagram(ByteSpan datagram, Endpoint source);
    // Drops the copies not heard for the configured time; the owner calls this every few seconds.
    void forgetSilentCopies();
    const CopyTable& copies() const { return copies_; }

private:
    void handleControl(ByteSpan datagram, Endpoint source);
    void answerProbe(ByteSpan datagram, Endpoint source);
    void handleAnnounce(ByteSpan payload, Endpoint source);
    void logAnnounce(AnnounceOutcome outcome, const HostRecord& record);
    void pushToOthers(const HostRecord& record, std::int64_t now);
    void sendList(ControlType type, std::uint8_t subType, std::span<const HostRecord> records, Endpoint to);
    void deliver(const std::optional<RoutedPacket>& packet, const char* what, Endpoint source);

    DatagramSocket& socket_;
    const Clock& clock_;
    CopyTable copies_;
    LogSink log_;
    bool refusalLogged_ = false; // one log line per spell of a full table, not one per announce
};

} // namespace vandry
