#pragma once
// The discovery endpoint: this copy's one UDP socket. Over it the copy registers with rendezvous
// servers, learns its public address, exchanges HostRecords with neighbours, opens paths through
// address translators with punch probes, and carries small requests and replies (share query,
// folder listing, source lookup), directly or relayed by a server. Reliable-transport packets on
// the same socket are passed on unread.
//
// Threads: everything runs on the thread that owns the socket (the main thread), except the
// server probe, which runs on a thread of its own; it sends through the same endpoint, and every
// datagram is built and sent under one lock. The probe thread is joined by stopServerProbe() and
// by the destructor.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "app/app_settings.h"
#include "common/bytes.h"
#include "common/event_log.h"
#include "common/identity.h"
#include "common/socket.h"
#include "discovery/control_datagram.h"
#include "discovery/control_sender.h"
#include "discovery/discovery_listener.h"
#include "discovery/neighbour_table.h"
#include "discovery/punch_paths.h"
#include "discovery/punch_schedule.h"
#include "discovery/relay_envelope.h"
#include "discovery/relay_fallback.h"
#include "discovery/relayed_peers.h"
#include "discovery/reliable_transport_sink.h"
#include "discovery/reply_budget.h"
#include "discovery/request_services.h"
#include "discovery/server_probe.h"

namespace vandry {

// What the endpoint works with; all of it outlives the endpoint.
struct DiscoveryContext {
    AppSettings& settings; // the server list and the logging flag
    NeighbourTable& table; // slot 0 is this copy's record
    EventLog& log;
    DiscoveryListener& listener;
    RequestServices& services;
    ReliableTransportSink& transport;
};

class DiscoveryEndpoint final : public PunchPaths {
public:
    static constexpr std::uint16_t kDefaultPort = 1552;
    static constexpr Ipv4 kMulticastGroup = 0xE0000105; // 224.0.1.5
    static constexpr int kMulticastTtl = 32;
    static constexpr int kReceiveBufferSize = 0x100000;
    static constexpr std::uint8_t kAnnounceForm = 0;
    static constexpr std::uint8_t kAnnounceFullForm = 1;

    // `socket` must not be null. `probeSleep` replaces the probe's 600 ms wait (tests); without
    // it the wait is real and cut short by stopServerProbe().
    DiscoveryEndpoint(std::unique_ptr<DatagramSocket> socket, DiscoveryContext context,
                      ServerProbe::Sleeper probeSleep = {});
    ~DiscoveryEndpoint();
    DiscoveryEndpoint(const DiscoveryEndpoint&) = delete;
    DiscoveryEndpoint& operator=(const DiscoveryEndpoint&) = delete;

    // Binds `port`, else `lastPort` (the port of the copy's last run, 0 for none), else any free
    // port, and stores the port bound in this copy's record. Coming back on its last port, a
    // restarted copy keeps its record at the server, which moves a known identity to a new port
    // only after the old one has been silent for a while. Multicast membership is best effort: a
    // host that refuses it still runs. False when no port could be bound.
    bool open(std::uint16_t port = kDefaultPort, std::uint16_t lastPort = 0);

    // Type 1 with this copy's record to the best server; nothing while no server is known. Until
    // a server's list has arrived, every announce asks for the full list: a server sends a copy it
    // has listed only what changed since, so a lost first list would leave the table empty.
    void announce(std::uint8_t form);
    // Type 0 to server `index`. Safe from any thread (the server probe calls it).
    void probeServer(std::size_t index);

    // Requests to one neighbour (type 5), sent straight to it when the neighbour table knows a
    // usable address, else punch probes to its mapped and LAN addresses and the request relayed
    // through the best server. False when the text cannot travel (a zero byte, or too long).
    bool sendQuery(std::string_view text, std::uint8_t flags, const NeighbourRecord& target);
    bool sendListingRequest(std::string_view folderPath, std::uint32_t parameter, const NeighbourRecord& target);
    void sendSourceLookup(const FileKey& key, std::uint32_t parameter, const NeighbourRecord& target);
    // A query to every neighbour seen less than 120 s ago.
    bool searchAll(std::string_view text, std::uint8_t flags);

    // Starts the server probe on its own thread. Safe from any thread (the update checker calls
    // it). False while a probe is running or after stopServerProbe().
    bool startServerProbe();
    // For the update checker, which starts no feed check while a probe runs.
    bool serverProbeRunning() const { return probeWorker_.busy(); }
    // Cuts a running probe short and joins its thread; no probe starts afterwards.
    void stopServerProbe();

    std::uint16_t echoWord() const { return sender_.echoWord(); }
    // Where reliable-transport packets relayed by the server get their stand-in sources; without
    // it such packets are dropped. Set before the socket is opened.
    void setRelayedPeers(RelayedPeers* peers);

    // Punching paths through translators (discovery_punch.cpp). Main thread.
    std::optional<Endpoint> directPath(const NeighbourRecord& neighbour) override;
    bool mayReachMapped(const NeighbourRecord& neighbour, PunchRole role) override;
    // Sends the probes the punch schedule has due; about once a second.
    void punchTick();
    const PunchSchedule& punchSchedule() const { return punch_; }

private:
    std::optional<Endpoint> serverEndpoint(std::size_t index) const;
    void sendRequest(std::vector<std::uint8_t> payload, const NeighbourRecord& target);
    void sendPunchProbes(const NeighbourRecord& target);
    void sendProbe(Endpoint to, int hops);
    // A datagram from a neighbour: where it came from is a path to it.
    void heardFrom(const HostIdentity& identity, Endpoint source);
    bool reachableUnpunched(const NeighbourRecord& neighbour) const;

    // Receiving (discovery_receive.cpp).
    void receive(ByteSpan datagram, Endpoint source);
    void dispatch(const ControlDatagram& header, ByteSpan datagram, Endpoint source);
    void onServerReply(const ControlDatagram& header, Endpoint source);
    void onAnnounce(Endpoint source);
    // One of this copy's rendezvous servers, matched by address as the probe answer is.
    bool isServer(Endpoint source) const;
    void onRecords(const ControlDatagram& header, ByteSpan datagram, Endpoint source);
    bool mergeRecords(std::uint16_t slotHint, ByteSpan payload, RecordSource from);
    void onRequest(const ControlDatagram& header, ByteSpan payload, Endpoint source);
    void onReply(ByteSpan payload, Endpoint source);
    void onPunch(const ControlDatagram& header, ByteSpan payload, Endpoint source);
    void onServerList(const ControlDatagram& header, ByteSpan payload, Endpoint source);
    void onEcho(const ControlDatagram& header, ByteSpan payload, Endpoint source);

    // Through the server's relay (discovery_relay.cpp).
    std::optional<Endpoint> bestServerEndpoint() const;
    void relayIfUnanswered(ByteSpan requestPayload, const NeighbourRecord& target, Endpoint server);
    void sendEnveloped(const HostIdentity& to, ByteSpan inner, Endpoint server);
    void noteDirectReply(ByteSpan payload);
    void onRelayed(ByteSpan datagram, Endpoint source);
    void onRelayedControl(const RelayEnvelope& envelope, Endpoint server);

    std::unique_ptr<DatagramSocket> socket_;
    DiscoveryContext context_;
    ControlSender sender_;
    ReplyBudget replyBudget_;
    PunchSchedule punch_;
    RelayFallback relayFallback_;
    RelayedPeers* relayedPeers_ = nullptr;
    bool listedByServer_ = false;
    // The probe thread's copy of this copy's identity; the table itself belongs to the main thread.
    mutable std::mutex identityMutex_;
    HostIdentity probeIdentity_{};
    // Last: its thread uses everything above, so it is joined before any of it goes.
    ServerProbeWorker probeWorker_;
};

} // namespace vandry
