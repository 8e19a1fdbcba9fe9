#include "tasks/seed_table.h"

#include <algorithm>
#include <random>

namespace vandry {

std::string_view seedStateName(std::uint8_t state)
{
    switch (state) {
    case SEED_FLAG_EMPTY:
        return "SEED_FLAG_EMPTY";
    case SEED_FLAG_CONNECTED:
        return "SEED_FLAG_CONNECTED";
    case SEED_FLAG_READY:
        return "SEED_FLAG_READY";
    case SEED_FLAG_SUSPEND:
        return "SEED_FLAG_SUSPEND";
    case SEED_FLAG_BAD:
        return "SEED_FLAG_BAD";
    case SEED_FLAG_TCPFAIL:
        return "SEED_FLAG_TCPFAIL";
    case SEED_FLAG_FAIL:
        return "SEED_FLAG_FAIL";
    case SEED_FLAG_MANUL:
        return "SEED_FLAG_MANUL";
    case SEED_FLAG_REJECT:
        return "SEED_FLAG_REJECT";
    default:
        return "";
    }
}

SeedTable::SeedTable(const Clock& clock) : clock_(clock), slots_(kSlots) {}

SeedTable::SeedSlot* SeedTable::slotFor(const SourceInfo& key)
{
    const int index = findSlot(key, false);
    return index < 0 ? nullptr : &slots_[static_cast<std::size_t>(index)];
}

const SeedTable::SeedSlot* SeedTable::slotFor(const SourceInfo& key) const
{
    for (std::size_t i = 0; i < used_; ++i)
        if (slots_[i].key == key)
            return &slots_[i];
    return nullptr;
}

void SeedTable::clear(SeedSlot& slot)
{
    slot.refreshTime = 0;
    slot.key = SourceInfo{};
    for (SeedEntry& entry : slot.entries)
        entry = SeedEntry{};
}

std::size_t SeedTable::listedCount(const SeedSlot& slot)
{
    std::size_t count = 0;
    while (count < kEntries && slot.entries[count].state != SEED_FLAG_EMPTY)
        ++count;
    return count;
}

std::span<SeedEntry> SeedTable::listed(SeedSlot& slot)
{
    return {slot.entries.data(), listedCount(slot)};
}

std::span<const SeedEntry> SeedTable::listed(const SeedSlot& slot)
{
    return {slot.entries.data(), listedCount(slot)};
}

SeedEntry* SeedTable::entryOf(SeedSlot& slot, const HostIdentity& identity)
{
    for (SeedEntry& entry : listed(slot))
        if (entry.identity == identity)
            return &entry;
    return nullptr;
}

SeedEntry* SeedTable::entryForAnswer(SeedSlot& slot, const HostIdentity& identity)
{
    if (SeedEntry* known = entryOf(slot, identity))
        return known;
    const auto used = listed(slot);
    if (used.size() < kEntries)
        return &slot.entries[used.size()];
    for (std::uint8_t reusable : {SEED_FLAG_BAD, SEED_FLAG_READY})
        for (SeedEntry& entry : used)
            if (entry.state == reusable)
                return &entry;
    return nullptr;
}

bool SeedTable::knowsSource(const SeedSlot& slot, const HostIdentity& identity, std::int64_t now)
{
    for (const SeedEntry& entry : listed(slot))
        if (entry.identity == identity && !(entry.state == SEED_FLAG_BAD && entry.time <= now - kBadRetryAge))
            return true;
    return false;
}

bool SeedTable::readyToPick(const SeedEntry& entry, std::int64_t now)
{
    return entry.state == SEED_FLAG_READY && entry.time < now - kReadyHoldOff;
}

bool SeedTable::suspendedOrResumed(const SeedEntry& entry, std::int64_t now)
{
    return (entry.state == SEED_FLAG_SUSPEND && entry.time < now - kSuspendHoldOff) || entry.state == SEED_FLAG_MANUL;
}

int SeedTable::findSlot(const SourceInfo& key, bool create)
{
    for (std::size_t i = 0; i < used_; ++i)
        if (slots_[i].key == key)
            return static_cast<int>(i);
    if (!create)
        return -1;
    std::size_t taken = used_;
    if (used_ < kSlots) {
        ++used_;
    } else {
        const auto oldest = std::min_element(slots_.begin(), slots_.end(), [](const SeedSlot& a, const SeedSlot& b) {
            return a.refreshTime < b.refreshTime;
        });
        taken = static_cast<std::size_t>(oldest - slots_.begin());
        clear(*oldest);
    }
    slots_[taken].key = key;
    return static_cast<int>(taken);
}

bool SeedTable::dropSlot(const SourceInfo& key)
{
    const int index = findSlot(key, false);
    if (index < 0)
        return false;
    const std::size_t last = used_ - 1;
    if (static_cast<std::size_t>(index) != last)
        slots_[static_cast<std::size_t>(index)] = std::move(slots_[last]);
    clear(slots_[last]);
    --used_;
    return true;
}

void SeedTable::addSource(bool positive, const SourceInfo& key, const HostIdentity& identity, const std::string& path)
{
    if (identity[0] == 0 && identity[1] == 0 && identity[2] == 0 && identity[3] == 0)
        return;
    const int index = findSlot(key, true);
    if (index < 0)
        return;
    SeedEntry* entry = entryForAnswer(slots_[static_cast<std::size_t>(index)], identity);
    if (!entry)
        return;
    if (positive) {
        entry->state = SEED_FLAG_READY;
        entry->path = path;
    } else {
        // A source that once offered the file keeps its offer.
        if (entry->state == SEED_FLAG_READY)
            return;
        entry->state = SEED_FLAG_BAD;
        entry->path.clear();
    }
    entry->identity = identity;
    entry->time = clock_.nowSeconds();
}

bool SeedTable::setSourceState(const SourceInfo& key, const HostIdentity& identity, std::uint8_t state)
{
    SeedSlot* slot = slotFor(key);
    SeedEntry* entry = slot ? entryOf(*slot, identity) : nullptr;
    if (!entry || state == SEED_FLAG_EMPTY)
        return false;
    entry->state = state;
    entry->time = clock_.nowSeconds();
    return true;
}

bool SeedTable::reviveSource(const SourceInfo& key, const HostIdentity& identity, std::int64_t deltaSeconds)
{
    SeedSlot* slot = slotFor(key);
    SeedEntry* entry = slot ? entryOf(*slot, identity) : nullptr;
    // Only refusals are revived: moving a picked source's hold-off back would pick it twice at once.
    if (!entry || (entry->state != SEED_FLAG_BAD && entry->state != SEED_FLAG_REJECT))
        return false;
    entry->state = SEED_FLAG_BAD;
    entry->time = clock_.nowSeconds() + deltaSeconds;
    return true;
}

void SeedTable::resetSources(const SourceInfo& key)
{
    SeedSlot* slot = slotFor(key);
    if (!slot)
        return;
    slot->refreshTime = 0;
    for (SeedEntry& entry : listed(*slot)) {
        if (entry.state == SEED_FLAG_CONNECTED || entry.state == SEED_FLAG_MANUL) {
            entry.state = SEED_FLAG_READY;
            entry.time = clock_.nowSeconds();
        }
    }
}

void SeedTable::shuffleSources(const SourceInfo& key)
{
    SeedSlot* slot = slotFor(key);
    if (!slot)
        return;
    const auto entries = listed(*slot);
    if (entries.empty()) {
        slot->refreshTime = 0;
        return;
    }
    const auto connected = static_cast<std::uint32_t>(std::count_if(
        entries.begin(), entries.end(), [](const SeedEntry& e) { return e.state == SEED_FLAG_CONNECTED; }));
    if (connected == 0)
        return;
    std::minstd_rand random(clock_.tickMs());
    const std::uint32_t first = random() % connected;
    const std::uint32_t second = random() % connected;
    std::uint32_t number = 0;
    const std::int64_t resumedTime = clock_.nowSeconds() - kManualAge;
    for (SeedEntry& entry : entries) {
        if (entry.state != SEED_FLAG_CONNECTED)
            continue;
        if (number == first || number == second) {
            entry.state = SEED_FLAG_MANUL;
            entry.time = resumedTime;
        }
        ++number;
    }
}

bool SeedTable::hasCandidate(const SourceInfo& key) const
{
    const SeedSlot* slot = slotFor(key);
    if (!slot)
        return false;
    const std::int64_t now = clock_.nowSeconds();
    const auto entries = listed(*slot);
    return std::any_of(entries.begin(), entries.end(),
                       [now](const SeedEntry& e) { return readyToPick(e, now) || suspendedOrResumed(e, now); });
}

std::optional<PickedSource> SeedTable::pickSource(const SourceInfo& key)
{
    SeedSlot* slot = slotFor(key);
    if (!slot)
        return std::nullopt;
    const std::int64_t now = clock_.nowSeconds();
    const auto entries = listed(*slot);
    auto picked =
        std::find_if(entries.begin(), entries.end(), [now](const SeedEntry& e) { return readyToPick(e, now); });
    if (picked == entries.end()) {
        picked = std::find_if(entries.begin(), entries.end(),
                              [now](const SeedEntry& e) { return suspendedOrResumed(e, now); });
        if (picked == entries.end())
            return std::nullopt;
        if (picked->state == SEED_FLAG_MANUL)
            picked->state = SEED_FLAG_CONNECTED;
    }
    picked->time = now + kPickHoldOff;
    return PickedSource{picked->identity, picked->path};
}

void SeedTable::querySweep(const SourceInfo& key, const NeighbourTable& neighbours, std::span<const HostIdentity> busy,
                           bool skipBusy, const std::function<void(NeighbourSlot)>& send)
{
    const int index = findSlot(key, true);
    if (index < 0)
        return;
    SeedSlot& slot = slots_[static_cast<std::size_t>(index)];
    const std::int64_t now = clock_.nowSeconds();
    if (slot.refreshTime >= now - kQueryInterval)
        return;
    for (const NeighbourSlot neighbour : neighbours.neighboursSeenWithin(NeighbourTable::kSourceQueryAge)) {
        const HostIdentity& identity = neighbours.at(neighbour).host.identity;
        if (knowsSource(slot, identity, now))
            continue;
        if (skipBusy && std::find(busy.begin(), busy.end(), identity) != busy.end())
            continue;
        slot.refreshTime = now;
        send(neighbour);
    }
}

void SeedTable::retryBadSources(const SourceInfo& key)
{
    SeedSlot* slot = slotFor(key);
    if (!slot)
        return;
    for (SeedEntry& entry : listed(*slot))
        if (entry.state == SEED_FLAG_BAD)
            entry.time = clock_.nowSeconds() - kBadRetryAge;
}

std::optional<SeedTable::SlotView> SeedTable::view(const SourceInfo& key) const
{
    const SeedSlot* slot = slotFor(key);
    if (!slot)
        return std::nullopt;
    const auto entries = listed(*slot);
    return SlotView{slot->refreshTime, {entries.begin(), entries.end()}};
}

} // namespace vandry
