#pragma once
// When to probe a neighbour behind an address translator, and when to keep quiet.
//
// Two copies behind translators open a path by each sending to the other's mapped endpoint. A
// Linux translator that receives a datagram for an endpoint nobody inside has used yet keeps an
// entry for it (the datagram was addressed to the translator itself); while that entry lives, an
// answer from inside to the same peer cannot leave from the same port, and the peer's translator
// drops it. The entry is forgotten 30 s after the last datagram that matched it. So whichever side
// is first heard at the other's translator "poisons" the pair, and a fixed order repairs it:
//
//   trying   both sides send at once: enough wherever nothing was poisoned (one side public,
//            translators that drop unsolicited input, entries still open from earlier);
//   keeping  the side that sent first keeps its own translator's entry alive with datagrams of
//            hop limit 1, which die in that translator after refreshing the entry and never reach
//            the peer's translator, where the poisoned entries now age;
//   quiet    the other side sends nothing to the peer until they are gone;
//   opening  it then probes; its datagrams match the keeper's entry and get through, and the
//            keeper's answers match the fresh entry the opener's translator has just made;
//   open     the path is confirmed by a datagram from the peer; probes keep it open while used.
//
// A round that opens nothing (both sides had sent first, and the wrong one kept) swaps the roles:
// the opener's fresh entry is the good one. Everything runs on one thread; time comes from the clock.

#include <cstdint>
#include <optional>
#include <vector>

#include "common/clock.h"
#include "common/identity.h"
#include "common/ipv4.h"

namespace vandry {

// Why a path to a neighbour is wanted: we start the exchange, or it asked us through the server
// (so it has sent to our translator already).
enum class PunchRole : std::uint8_t { Initiator, Responder };

enum class PunchPhase : std::uint8_t { Trying, Keeping, Quiet, Opening, Open };

struct PunchSend {
    enum class Kind : std::uint8_t { Probe, KeepAlive } kind = Kind::Probe;
    HostIdentity peer{};
    Endpoint to{};
};

class PunchSchedule {
public:
    static constexpr std::uint32_t kTryMs = 2000;
    static constexpr std::uint32_t kRetryMs = 1000;
    // Longer than the translators' 30 s for an unanswered flow.
    static constexpr std::uint32_t kQuietMs = 34000;
    static constexpr std::uint32_t kOpenMs = 6000;
    static constexpr std::uint32_t kKeepAliveMs = 10000;
    // A keeper waits this long for the opener before the roles swap: the quiet time, the opening
    // and room for the two sides having started up to 10 s apart.
    static constexpr std::uint32_t kRoundMs = kQuietMs + kOpenMs + 10000;
    static constexpr std::uint32_t kPathProbeMs = 15000;
    static constexpr std::uint32_t kPathLapseMs = 45000;
    // Nobody asked for the neighbour this long: an unfinished punch is dropped.
    static constexpr std::uint32_t kDemandMs = 60000;
    // Nobody used an open path this long: it is no longer kept open.
    static constexpr std::uint32_t kPathDemandMs = 300000;
    static constexpr std::size_t kMaxPeers = 256;

    PunchSchedule(const Clock& clock, const HostIdentity& self) : clock_(clock), self_(self) {}
    void setSelf(const HostIdentity& self) { self_ = self; }

    // A request or call for `peer` found no direct address. Starts a punch to its mapped endpoint,
    // or notes that the one under way is still needed.
    void want(const HostIdentity& peer, Endpoint mapped, PunchRole role);
    // Whether a datagram may go to the peer's mapped endpoint now; when it may, it counts as sent.
    bool takeMappedSend(const HostIdentity& peer);
    // A datagram from `peer` arrived from `source`, an address of its translator. True when this
    // opened the path: the caller then tells the peer at once.
    bool heard(const HostIdentity& peer, Endpoint source);
    // Where the peer was last heard from while the path is open.
    std::optional<Endpoint> path(const HostIdentity& peer) const;
    std::optional<PunchPhase> phase(const HostIdentity& peer) const;
    // Milliseconds from the start of the punch to the path opening (for the event log).
    std::optional<std::uint32_t> openedAfterMs(const HostIdentity& peer) const;
    // The probes due now; called about once a second.
    std::vector<PunchSend> tick();

private:
    struct Peer {
        HostIdentity identity{};
        Endpoint mapped{};
        Endpoint path{};
        PunchPhase phase = PunchPhase::Trying;
        bool initiator = true;
        std::uint32_t started = 0;     // the punch began
        std::uint32_t phaseStart = 0;  // the current phase began
        std::uint32_t lastSend = 0;    // last datagram of any hop limit to the mapped endpoint
        std::uint32_t lastWanted = 0;  // last request or call that needed the path
        std::uint32_t lastHeard = 0;   // last datagram from the peer, while open
        std::uint32_t openedAfter = 0; // ms from `started` to the path opening
    };

    Peer* find(const HostIdentity& identity);
    const Peer* find(const HostIdentity& identity) const;
    Peer& add(const HostIdentity& identity, Endpoint mapped, PunchRole role);
    void restart(Peer& peer, Endpoint mapped, bool initiator);
    void enter(Peer& peer, PunchPhase phase);
    // False when the peer is to be forgotten.
    bool step(Peer& peer, std::vector<PunchSend>& due);
    void send(Peer& peer, PunchSend::Kind kind, Endpoint to, std::vector<PunchSend>& due);
    std::uint32_t since(std::uint32_t then) const { return clock_.tickMs() - then; }

    const Clock& clock_;
    HostIdentity self_;
    std::vector<Peer> peers_;
};

} // namespace vandry
