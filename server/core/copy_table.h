#pragma once
// The copies this server has heard announce themselves, by identity. Each keeps the record it
// announced, with the mapped address and port replaced by the source the server saw, and the time
// it was last heard. A copy not heard for `forgetAfterSeconds` is no longer live: it is left out of
// every answer at once and dropped by forgetSilent(). The table never holds more than `capacity`
// copies; a full table refuses newcomers, so that a flood of made-up identities cannot push out the
// copies that keep announcing.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "common/identity.h"
#include "common/ipv4.h"
#include "discovery/host_record.h"

namespace vandry {

enum class AnnounceOutcome {
    New,       // first heard (or heard again after being forgotten)
    Moved,     // known, but now seen from another address or port
    Refreshed, // known, same address and port
    Refused,   // new, but the table is full
};

class CopyTable {
public:
    CopyTable(std::size_t capacity, std::int64_t forgetAfterSeconds);

    // `record` carries the mapped address and port the server observed.
    AnnounceOutcome remember(const HostRecord& record, std::int64_t now);
    std::optional<HostRecord> findLive(const HostIdentity& identity, std::int64_t now) const;
    // Live copies other than `except`; past `limit`, the most recently heard ones.
    std::vector<HostRecord> liveOthers(const HostIdentity& except, std::int64_t now, std::size_t limit) const;
    // Drops the copies that are no longer live and returns their records.
    std::vector<HostRecord> forgetSilent(std::int64_t now);

    std::size_t size() const { return copies_.size(); }
    bool full() const { return copies_.size() >= capacity_; }

private:
    struct Kept {
        HostRecord record;
        std::int64_t lastHeard = 0;
    };
    bool live(const Kept& kept, std::int64_t now) const { return now - kept.lastHeard < forgetAfter_; }

    std::size_t capacity_;
    std::int64_t forgetAfter_;
    std::map<HostIdentity, Kept> copies_;
};

} // namespace vandry
