#pragma once
// The seed table: for each file being downloaded, the copies that may serve it (its sources), each
// with a state and the time that state was set. 64 slots of 256 entries, allocated once and kept
// for the whole run; nothing of it is saved.
//
// The used slots always form a prefix of the table, and the used entries a prefix of their slot:
// the first EMPTY entry ends the list. A full table gives the least recently queried slot to a new
// file; a full entry list reuses a BAD entry, then a READY one, and otherwise ignores the reply.
//
// Times are whole seconds. Besides "when the state last changed", an entry's time doubles as a
// hold-off: a picked source gets now + 25, a BAD source to be asked again now - 600.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/identity.h"
#include "discovery/neighbour_table.h"
#include "link/link_records.h"

namespace vandry {

enum SeedState : std::uint8_t {
    SEED_FLAG_EMPTY = 0,
    SEED_FLAG_CONNECTED = 1, // a transfer from this source is running
    SEED_FLAG_READY = 2,     // it answered with a path and is idle
    SEED_FLAG_SUSPEND = 4,   // a transfer was interrupted, or it had nothing more to give
    SEED_FLAG_BAD = 8,       // it answered that it does not have the file
    SEED_FLAG_TCPFAIL = 0x10,
    SEED_FLAG_FAIL = 0x20,   // a datagram connection to it failed
    SEED_FLAG_MANUL = 0x40,  // a user's resume marked it to be tried at once
    SEED_FLAG_REJECT = 0x80, // it refused the request with an error
};

// "SEED_FLAG_READY" ...; "" for a value that is not a state.
std::string_view seedStateName(std::uint8_t state);

struct SeedEntry {
    std::uint8_t state = SEED_FLAG_EMPTY;
    std::int64_t time = 0;
    HostIdentity identity{};
    std::string path; // the source's wire path of the file, kept as text; empty unless it answered with one
};

struct PickedSource {
    HostIdentity identity{};
    std::string path;
};

class SeedTable {
public:
    static constexpr std::size_t kSlots = 64, kEntries = 256;
    static constexpr std::int64_t kQueryInterval = 120; // between two sweeps that sent requests
    static constexpr std::int64_t kReadyHoldOff = 1;    // a READY source waits more than this
    static constexpr std::int64_t kSuspendHoldOff = 120;
    static constexpr std::int64_t kPickHoldOff = 25;  // added to a picked source's time
    static constexpr std::int64_t kManualAge = 3;     // a resumed source's time lies this far back
    static constexpr std::int64_t kBadRetryAge = 600; // a BAD answer this old is asked again

    explicit SeedTable(const Clock& clock);

    // The slot of `key`, or -1. With `create` a missing key always gets a slot, the least
    // recently queried one when all are used (its sources are lost).
    int findSlot(const SourceInfo& key, bool create);
    // The last used slot moves into the dropped one's place.
    bool dropSlot(const SourceInfo& key);
    // The answer of `identity` to a source lookup; positive when it carried a path. Creates the
    // slot. An identity whose first four bytes are zero is ignored.
    void addSource(bool positive, const SourceInfo& key, const HostIdentity& identity, const std::string& path);
    // False without a slot or an entry for `identity`, or for EMPTY, which would cut the list.
    bool setSourceState(const SourceInfo& key, const HostIdentity& identity, std::uint8_t state);
    // The source holds blocks this copy lacks: a BAD or REJECT entry becomes BAD with time
    // now + `deltaSeconds`; other states are kept as they are. False without such an entry.
    bool reviveSource(const SourceInfo& key, const HostIdentity& identity, std::int64_t deltaSeconds);
    // The download was stopped: running and resumed sources become READY; the next sweep may ask.
    void resetSources(const SourceInfo& key);
    // The download was resumed: up to two running sources, drawn at random, become MANUL.
    void shuffleSources(const SourceInfo& key);
    bool hasCandidate(const SourceInfo& key) const;
    // An idle READY source first, then the first eligible SUSPEND or MANUL one (MANUL becomes
    // CONNECTED); the picked entry's time moves to now + 25.
    std::optional<PickedSource> pickSource(const SourceInfo& key);
    // Sends a source lookup (through `send`) to every neighbour seen in the last 300 s that has no
    // entry yet (a BAD entry at least 600 s old does not count) and is not in `busy` when skipBusy.
    // Nothing when the slot was queried less than 120 s ago. Creates the slot.
    void querySweep(const SourceInfo& key, const NeighbourTable& neighbours, std::span<const HostIdentity> busy,
                    bool skipBusy, const std::function<void(NeighbourSlot)>& send);
    // "RST": every BAD source is asked again by the next sweep.
    void retryBadSources(const SourceInfo& key);

    // For the view: the slot's entries in use and its refresh time; nullopt without a slot.
    struct SlotView {
        std::int64_t refreshTime;
        std::vector<SeedEntry> entries;
    };
    std::optional<SlotView> view(const SourceInfo& key) const;

private:
    struct SeedSlot {
        std::int64_t refreshTime = 0; // the last sweep that sent a request; 0 after a reset
        SourceInfo key;
        std::array<SeedEntry, kEntries> entries;
    };

    SeedSlot* slotFor(const SourceInfo& key);
    const SeedSlot* slotFor(const SourceInfo& key) const;
    static void clear(SeedSlot& slot);
    static std::size_t listedCount(const SeedSlot& slot);
    static std::span<SeedEntry> listed(SeedSlot& slot);
    static std::span<const SeedEntry> listed(const SeedSlot& slot);
    static SeedEntry* entryOf(SeedSlot& slot, const HostIdentity& identity);
    static SeedEntry* entryForAnswer(SeedSlot& slot, const HostIdentity& identity);
    static bool knowsSource(const SeedSlot& slot, const HostIdentity& identity, std::int64_t now);
    static bool readyToPick(const SeedEntry& entry, std::int64_t now);
    static bool suspendedOrResumed(const SeedEntry& entry, std::int64_t now);

    const Clock& clock_;
    std::vector<SeedSlot> slots_;
    std::size_t used_ = 0;
};

} // namespace vandry
