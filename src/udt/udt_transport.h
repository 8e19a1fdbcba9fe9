#pragma once
// UdtTransport: the reliable datagram transport of one running copy. 128 connections, connection
// i carrying the byte streams of peer link i, in packets on the discovery socket.
//
// A connection is set up in four steps: the caller sends a call (to the callee's address, or to
// its LAN and mapped addresses and, relayed, through the rendezvous server); the callee answers;
// the first answer fixes the path and the caller confirms with a fresh connection id; the callee
// takes a free link for it and accepts, drawing the connection's tag. Bytes a link queues go out
// in packets of at most 1440 bytes, the last of a batch marked as a push; the receiver stores
// them by offset, asks with a probe when it sees a gap, and the sender then resends one packet
// from the acknowledged offset per answer until the gap is closed. A connection silent for 37 s
// expires.
//
// Threads: onDatagram, connect, queue and close run on the main thread (the links' thread);
// transmitQueued, retransmit and tick on the transport's worker. One lock guards the table, and
// no link is called while it is held. What the worker finds for a link (an expiry, a call to
// repeat) is posted to the main thread, and checked there against the slot's generation, so a
// late notice never reaches the link's next connection.

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "common/clock.h"
#include "common/event_log.h"
#include "common/socket.h"
#include "discovery/neighbour_table.h"
#include "discovery/punch_paths.h"
#include "discovery/relay_fallback.h"
#include "discovery/relayed_peers.h"
#include "udt/udt_connection.h"

namespace vandry {

// The links as the transport sees them; called on the main thread, never under the table lock.
class UdtLinks {
public:
    virtual ~UdtLinks() = default;
    // A free link for an incoming connection, now waiting for the caller's hello.
    virtual std::optional<std::uint8_t> openIncomingLink() = 0;
    virtual void connected(std::uint8_t link) = 0;
    // The connection has ended; true when the link was still using it.
    virtual bool ended(std::uint8_t link) = 0;
    // Returns the count the link took; the rest is offered again later.
    virtual std::size_t deliver(std::uint8_t link, ByteSpan bytes) = 0;
    // Room in the send buffer again after the link was refused some bytes.
    virtual void writable(std::uint8_t link) = 0;
};

// How the main thread wakes the worker.
class UdtWorkQueue {
public:
    virtual ~UdtWorkQueue() = default;
    virtual void requestTransmit(std::uint8_t connection) = 0;
    virtual void requestRetransmit(std::uint8_t connection) = 0;
};

struct UdtContext {
    DatagramSocket& socket; // sendTo is safe from any thread
    const Clock& clock;
    NeighbourTable& neighbours; // main thread only
    // The selected rendezvous server; main thread only.
    std::function<std::optional<Endpoint>()> bestServer;
    EventLog& log;
    UdtLinks& links;
    UdtWorkQueue& work;
    // Runs work on the main thread; safe from any thread.
    std::function<void(std::function<void()>)> postToMain;
    // A fresh connection id (a GUID).
    std::function<HostIdentity()> newConnectionId;
};

// A slot as tests and the link dump see it.
struct UdtSlotView {
    UdtState state = UdtState::Free;
    Endpoint peer;
    std::uint16_t tag = 0;
    std::uint16_t outIndex = 0;
    std::uint32_t sendBase = 0, sendNext = 0, peerAcked = 0, queued = 0, sent = 0;
    std::uint32_t recvBase = 0, recvNext = 0;
    std::size_t ranges = 0;
    std::int64_t lastActive = 0;
};

class UdtTransport {
public:
    static constexpr std::size_t kConnections = 128;
    static constexpr std::uint32_t kMaxPayload = 1440;
    static constexpr std::int64_t kIdleProbeSeconds = 2;
    static constexpr std::int64_t kExpirySeconds = 37;
    static constexpr std::uint32_t kHandshakeRepeatMs = 500;
    static constexpr std::uint32_t kTickMs = 500;
    // Contiguous bytes beyond this are delivered without waiting for the end of the batch.
    static constexpr std::uint32_t kDeliverThreshold = 16550;

    explicit UdtTransport(UdtContext context);
    UdtTransport(const UdtTransport&) = delete;
    UdtTransport& operator=(const UdtTransport&) = delete;

    // Main thread.
    // Paths punched through translators, set before the worker starts. Without them only the
    // neighbour table's address choice is used and mapped endpoints are called at once.
    void usePunchPaths(PunchPaths* punch) { punch_ = punch; }
    // Starts a call for link `index` to `callee`; false when no packet could be addressed.
    bool connect(std::uint8_t index, const NeighbourRecord& callee);
    void onDatagram(ByteSpan datagram, Endpoint source);
    // Ends the connection, telling the peer when `notifyPeer` is set and it is established.
    void close(std::uint8_t index, bool notifyPeer);
    // Appends what fits of `bytes` to the send buffer; returns the count taken. Bytes for a
    // connection that no longer exists are taken and dropped: its link is told of the end.
    std::size_t queue(std::uint8_t index, ByteSpan bytes);
    // The link takes frames again: offers what it left of the contiguous received bytes.
    void deliverPending(std::uint8_t index);

    // Worker.
    void transmitQueued(std::uint8_t index);
    void retransmit(std::uint8_t index);
    void tick();

    UdtSlotView view(std::uint8_t index) const;
    // Calls that go unanswered for a few seconds are then also made through the server's relay,
    // to the neighbour's stand-in endpoint. Main thread, before the first connect.
    void setRelayedPeers(RelayedPeers* peers) { relayedPeers_ = peers; }

private:
    // What a received packet asks of its link, done once the lock is released.
    struct Delivery {
        std::uint8_t link = 0;
        bool deliver = false;
        bool writable = false;
        bool acknowledge = false; // a pushed batch arrived whole
    };

    // Handshake (udt_handshake.cpp).
    bool startCall(std::uint8_t index, const NeighbourRecord& callee);
    void onRelay(const UdtPacket& packet, const HandshakeRecord& record, Endpoint source);
    void onCall(const UdtPacket& packet, HandshakeRecord record, Endpoint source);
    void onAnswer(const UdtPacket& packet, HandshakeRecord record, Endpoint source);
    void onConfirm(const UdtPacket& packet, const HandshakeRecord& record, Endpoint source);
    void onAccept(const UdtPacket& packet, const HandshakeRecord& record, Endpoint source);
    void onReset(const UdtPacket& packet, Endpoint source);
    void repeatCall(std::uint8_t index, std::uint64_t generation);
    void sendHandshake(UdtType type, std::uint16_t index, std::uint16_t tag, const HandshakeRecord& record,
                       Endpoint destination);
    void sendReset(std::uint16_t index, std::uint16_t tag, Endpoint destination);
    std::optional<Endpoint> directPath(const NeighbourRecord& neighbour) const;
    bool mayReachMapped(const NeighbourRecord& neighbour, PunchRole role) const;
    // Relay (udt_relay_call.cpp); called with the table lock held.
    bool callThroughRelay(std::uint8_t index, const NeighbourRecord& callee, const HandshakeRecord& record,
                          std::optional<Endpoint> server);

    // Flow (udt_flow.cpp).
    void onData(const UdtPacket& packet, Endpoint source, Delivery& delivery);
    void receiveStep(std::uint8_t index, const UdtPacket& packet, Delivery& delivery);
    void acknowledgeIfIdle(std::uint8_t index);
    // Hands the contiguous bytes to the link and keeps what it did not take. Not re-entered for
    // one link: a request that comes while the link is being handed bytes is served after it.
    void handOver(std::uint8_t index);
    void takeAck(UdtConnection& slot, std::uint32_t ack, Delivery& delivery);
    void sendQueued(UdtConnection& slot);
    bool store(UdtConnection& slot, std::uint32_t offset, ByteSpan payload);
    void sendControl(const UdtConnection& slot, UdtType type);
    bool sendPacket(const UdtConnection& slot, UdtType type, std::uint32_t offset, std::uint32_t from,
                    std::uint32_t length);

    void clearSlot(std::uint8_t index);
    void expire(std::uint8_t index);
    std::int64_t now() const { return context_.clock.nowSeconds(); }

    UdtContext context_;
    PunchPaths* punch_ = nullptr;
    mutable std::mutex mutex_;
    std::array<UdtConnection, kConnections> slots_;
    // Bumped whenever a slot is cleared: tells posted notices about an ended connection apart.
    std::array<std::uint64_t, kConnections> generations_{};
    std::array<bool, kConnections> delivering_{};
    std::array<bool, kConnections> deliverAgain_{};
    RelayedPeers* relayedPeers_ = nullptr;
    RelayFallback callFallback_; // main thread
    // Main thread: whom each slot's call is for, as last called. A copy that has just started may
    // call a neighbour its table does not list yet, from the record a task kept.
    std::array<NeighbourRecord, kConnections> callees_{};
};

} // namespace vandry
