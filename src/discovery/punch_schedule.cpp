#include "discovery/punch_schedule.h"

#include <algorithm>

namespace vandry {

namespace {
template <typename Peers> auto* findIn(Peers& peers, const HostIdentity& identity)
{
    const auto it = std::find_if(peers.begin(), peers.end(), [&](const auto& p) { return p.identity == identity; });
    return it == peers.end() ? nullptr : &*it;
}
} // namespace

PunchSchedule::Peer* PunchSchedule::find(const HostIdentity& identity)
{
    return findIn(peers_, identity);
}

const PunchSchedule::Peer* PunchSchedule::find(const HostIdentity& identity) const
{
    return findIn(peers_, identity);
}

// A full list gives up the punch least recently asked for.
PunchSchedule::Peer& PunchSchedule::add(const HostIdentity& identity, Endpoint mapped, PunchRole role)
{
    if (peers_.size() >= kMaxPeers) {
        const auto oldest = std::max_element(peers_.begin(), peers_.end(), [this](const Peer& a, const Peer& b) {
            return since(a.lastWanted) < since(b.lastWanted);
        });
        peers_.erase(oldest);
    }
    Peer& peer = peers_.emplace_back();
    peer.identity = identity;
    restart(peer, mapped, role == PunchRole::Initiator);
    return peer;
}

void PunchSchedule::restart(Peer& peer, Endpoint mapped, bool initiator)
{
    const std::uint32_t now = clock_.tickMs();
    peer.mapped = mapped;
    peer.path = {};
    peer.initiator = initiator;
    peer.started = now;
    peer.lastWanted = now;
    // Nothing sent yet: the first probe is due at once.
    peer.lastSend = now - kRetryMs;
    enter(peer, PunchPhase::Trying);
}

void PunchSchedule::enter(Peer& peer, PunchPhase phase)
{
    peer.phase = phase;
    peer.phaseStart = clock_.tickMs();
}

void PunchSchedule::want(const HostIdentity& peer, Endpoint mapped, PunchRole role)
{
    if (mapped.address == 0 || mapped.port == 0 || peer == self_)
        return;
    Peer* known = find(peer);
    if (!known) {
        add(peer, mapped, role);
        return;
    }
    known->lastWanted = clock_.tickMs();
    // A neighbour that moved starts over; an open path stays where the peer was heard.
    if (known->mapped != mapped) {
        if (known->phase != PunchPhase::Open)
            return restart(*known, mapped, role == PunchRole::Initiator);
        known->mapped = mapped;
    }
    // Both sides started at once: one of them keeps, by identity, the same choice on both sides.
    if (known->phase == PunchPhase::Trying && role == PunchRole::Responder && known->initiator)
        known->initiator = self_ < peer;
}

bool PunchSchedule::takeMappedSend(const HostIdentity& identity)
{
    Peer* peer = find(identity);
    if (!peer)
        return true;
    switch (peer->phase) {
    case PunchPhase::Keeping:
    case PunchPhase::Quiet:
        return false;
    case PunchPhase::Trying:
    case PunchPhase::Opening:
    case PunchPhase::Open:
        peer->lastSend = clock_.tickMs();
        return true;
    }
    return false;
}

bool PunchSchedule::heard(const HostIdentity& identity, Endpoint source)
{
    if (identity == self_ || source.address == 0 || source.port == 0)
        return false;
    Peer* peer = find(identity);
    // It reached us without our asking: its translator lets us answer there.
    if (!peer)
        peer = &add(identity, source, PunchRole::Initiator);
    const bool opened = peer->phase != PunchPhase::Open || peer->path != source;
    if (peer->phase != PunchPhase::Open) {
        peer->openedAfter = since(peer->started);
        enter(*peer, PunchPhase::Open);
    }
    peer->path = source;
    peer->lastHeard = clock_.tickMs();
    return opened;
}

std::optional<Endpoint> PunchSchedule::path(const HostIdentity& identity) const
{
    const Peer* peer = find(identity);
    if (!peer || peer->phase != PunchPhase::Open)
        return std::nullopt;
    return peer->path;
}

std::optional<PunchPhase> PunchSchedule::phase(const HostIdentity& identity) const
{
    const Peer* peer = find(identity);
    return peer ? std::optional(peer->phase) : std::nullopt;
}

std::optional<std::uint32_t> PunchSchedule::openedAfterMs(const HostIdentity& identity) const
{
    const Peer* peer = find(identity);
    if (!peer || peer->phase != PunchPhase::Open)
        return std::nullopt;
    return peer->openedAfter;
}

std::vector<PunchSend> PunchSchedule::tick()
{
    std::vector<PunchSend> due;
    std::erase_if(peers_, [&](Peer& peer) { return !step(peer, due); });
    return due;
}

void PunchSchedule::send(Peer& peer, PunchSend::Kind kind, Endpoint to, std::vector<PunchSend>& due)
{
    peer.lastSend = clock_.tickMs();
    due.push_back({kind, peer.identity, to});
}

bool PunchSchedule::step(Peer& peer, std::vector<PunchSend>& due)
{
    if (peer.phase == PunchPhase::Open) {
        if (since(peer.lastHeard) >= kPathLapseMs) {
            if (since(peer.lastWanted) >= kDemandMs)
                return false;
            restart(peer, peer.mapped, true);
        } else {
            if (since(peer.lastWanted) < kPathDemandMs && since(peer.lastSend) >= kPathProbeMs)
                send(peer, PunchSend::Kind::Probe, peer.path, due);
            return true;
        }
    } else if (since(peer.lastWanted) >= kDemandMs) {
        return false;
    }
    const std::uint32_t inPhase = since(peer.phaseStart);
    switch (peer.phase) {
    case PunchPhase::Trying:
        if (inPhase >= kTryMs)
            enter(peer, peer.initiator ? PunchPhase::Keeping : PunchPhase::Quiet);
        else if (since(peer.lastSend) >= kRetryMs)
            send(peer, PunchSend::Kind::Probe, peer.mapped, due);
        break;
    case PunchPhase::Keeping:
        if (inPhase >= kRoundMs)
            enter(peer, PunchPhase::Quiet);
        else if (since(peer.lastSend) >= kKeepAliveMs)
            send(peer, PunchSend::Kind::KeepAlive, peer.mapped, due);
        break;
    case PunchPhase::Quiet:
        if (since(peer.lastSend) >= kQuietMs && inPhase >= kQuietMs - kTryMs) {
            enter(peer, PunchPhase::Opening);
            send(peer, PunchSend::Kind::Probe, peer.mapped, due);
        }
        break;
    case PunchPhase::Opening:
        // Nobody answered: our translator now holds the fresh entry, so we keep it.
        if (inPhase >= kOpenMs)
            enter(peer, PunchPhase::Keeping);
        else if (since(peer.lastSend) >= kRetryMs)
            send(peer, PunchSend::Kind::Probe, peer.mapped, due);
        break;
    case PunchPhase::Open:
        break;
    }
    return true;
}

} // namespace vandry
