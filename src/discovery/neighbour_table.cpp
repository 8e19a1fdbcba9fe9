#include "discovery/neighbour_table.h"

namespace vandry {

namespace {
constexpr std::string_view kProvisionalNickname = "(TEMP)";
constexpr std::size_t kHexIdentityDigits = 32;
} // namespace

NeighbourTable::NeighbourTable(const Clock& clock, const HostRecord& local)
    : clock_(clock), slots_(kSlots), fromServer_(kSlots, false)
{
    slots_[0].host = local;
    slots_[0].lastSeen = kLocalLastSeen;
}

std::int64_t NeighbourTable::age(const NeighbourRecord& record) const
{
    return clock_.nowSeconds() - static_cast<std::int64_t>(record.lastSeen);
}

std::uint32_t NeighbourTable::nowStamp() const
{
    return static_cast<std::uint32_t>(clock_.nowSeconds());
}

std::optional<NeighbourSlot> NeighbourTable::slotForMerge(const HostRecord& record, std::uint16_t hint,
                                                          RecordSource source) const
{
    if (hint >= kSlots || slots_[hint].host.identity != record.identity)
        hint = 0;
    if (record.identity == local().host.identity)
        return std::nullopt;
    if (hint != 0)
        return NeighbourSlot{hint};
    std::optional<NeighbourSlot> free;
    std::optional<NeighbourSlot> stale;
    std::optional<NeighbourSlot> unvouched;
    for (std::uint16_t i = 1; i < kSlots; ++i) {
        const auto& slot = slots_[i];
        if (slot.host.identity == record.identity)
            return NeighbourSlot{i};
        if (!free && isFree(slot))
            free = NeighbourSlot{i};
        if (!stale && !isFree(slot) && age(slot) > kOnlineAge)
            stale = NeighbourSlot{i};
        if (!unvouched && !isFree(slot) && !fromServer_[i])
            unvouched = NeighbourSlot{i};
    }
    if (free || stale)
        return free ? free : stale;
    return source == RecordSource::Server ? unvouched : std::nullopt;
}

std::optional<NeighbourSlot> NeighbourTable::merge(std::span<const HostRecord> records, std::uint16_t slotHint,
                                                   RecordSource source)
{
    const std::uint16_t hint = records.size() == 1 ? slotHint : 0;
    std::optional<NeighbourSlot> chosen;
    for (const auto& record : records) {
        chosen = slotForMerge(record, hint, source);
        if (!chosen)
            continue;
        auto& slot = slots_[chosen->index];
        // What was learnt about a slot's previous copy (addresses, transport flag) is not the new one's.
        if (slot.host.identity != record.identity) {
            slot = NeighbourRecord{};
            fromServer_[chosen->index] = false;
        }
        if (source == RecordSource::Server)
            fromServer_[chosen->index] = true;
        slot.host = record;
        slot.lastSeen = nowStamp();
        // A confirmed direct address is only worth keeping while it is still one of the copy's LAN addresses.
        if (slot.directAddr != 0 && slot.directAddr != record.lanPrimary && slot.directAddr != record.lanSecondary)
            slot.directAddr = 0;
    }
    return chosen;
}

std::optional<NeighbourSlot> NeighbourTable::findFresh(const HostIdentity& identity) const
{
    for (std::uint16_t i = 0; i < kSlots; ++i) {
        const auto& slot = slots_[i];
        if (!isFree(slot) && slot.host.identity == identity && age(slot) < kFindAge)
            return NeighbourSlot{i};
    }
    return std::nullopt;
}

std::optional<NeighbourSlot> NeighbourTable::find(const HostIdentity& identity, bool create)
{
    if (auto fresh = findFresh(identity); fresh || !create)
        return fresh;
    std::optional<NeighbourSlot> target;
    for (std::uint16_t i = 1; i < kSlots; ++i) {
        const auto& slot = slots_[i];
        if (slot.host.identity == identity) {
            target = NeighbourSlot{i};
            break;
        }
        if (!target && isFree(slot))
            target = NeighbourSlot{i};
    }
    if (!target)
        return std::nullopt;
    auto& slot = slots_[target->index];
    slot = NeighbourRecord{};
    fromServer_[target->index] = false;
    slot.host.identity = identity;
    slot.host.setNickname(kProvisionalNickname);
    slot.lastSeen = nowStamp();
    return target;
}

std::optional<NeighbourSlot> NeighbourTable::findByHexText(std::string_view hex) const
{
    if (hex.size() != kHexIdentityDigits)
        return std::nullopt;
    const auto identity = identityFromHex(hex);
    return identity ? findFresh(*identity) : std::nullopt;
}

NeighbourRecord NeighbourTable::snapshot(const HostRecord& record) const
{
    if (const auto slot = findFresh(record.identity))
        return at(*slot);
    NeighbourRecord unknown;
    unknown.host = record;
    return unknown;
}

std::optional<Endpoint> NeighbourTable::chooseAddress(const NeighbourRecord& neighbour) const
{
    const auto& host = neighbour.host;
    if (host.lanPrimary != 0 && host.lanPrimary == host.mapAddr && host.portUdp == host.mapPort)
        return Endpoint{host.mapAddr, host.mapPort};
    if (neighbour.directAddr != 0)
        return Endpoint{neighbour.directAddr, host.portUdp};
    if (neighbour.observedAddr != 0 && age(neighbour) < kObservedAddressAge)
        return Endpoint{neighbour.observedAddr, neighbour.observedPort};
    // Behind the same translator, or neither copy knows a server (both mapped addresses 0).
    if (host.lanPrimary != 0 && host.mapAddr == local().host.mapAddr)
        return Endpoint{host.lanPrimary, host.portUdp};
    return std::nullopt;
}

std::optional<Endpoint> NeighbourTable::lanAddress(const NeighbourRecord& neighbour) const
{
    const auto& host = neighbour.host;
    if (host.lanPrimary == 0 || host.lanPrimary == host.mapAddr)
        return std::nullopt;
    return Endpoint{host.lanPrimary, host.portUdp};
}

void NeighbourTable::recordProbe(NeighbourSlot slot, Endpoint source)
{
    if (slot == kLocalSlot || slot.index >= kSlots)
        return;
    auto& record = slots_[slot.index];
    record.observedAddr = source.address;
    record.observedPort = source.port;
    record.lastSeen = nowStamp();
}

void NeighbourTable::confirmDirectAddress(NeighbourSlot slot, Ipv4 address)
{
    if (slot == kLocalSlot || slot.index >= kSlots)
        return;
    slots_[slot.index].directAddr = address;
}

std::vector<NeighbourSlot> NeighbourTable::listed() const
{
    std::vector<NeighbourSlot> out;
    for (std::uint16_t i = 0; i < kSlots; ++i)
        if (!isFree(slots_[i]) && age(slots_[i]) <= kOnlineAge)
            out.push_back(NeighbourSlot{i});
    return out;
}

std::vector<NeighbourSlot> NeighbourTable::neighboursSeenWithin(std::int64_t maxAge) const
{
    std::vector<NeighbourSlot> out;
    for (std::uint16_t i = 1; i < kSlots; ++i)
        if (!isFree(slots_[i]) && age(slots_[i]) < maxAge)
            out.push_back(NeighbourSlot{i});
    return out;
}

void NeighbourTable::setDatagramOnly(NeighbourSlot slot, bool on)
{
    if (slot.index < slots_.size())
        slots_[slot.index].datagramOnly = on ? 1 : 0;
}

} // namespace vandry
