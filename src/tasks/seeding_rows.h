#pragma once
// What the seeding view shows of one file's sources, as texts: one row per source (the GUID, host,
// code, time and "Invke" columns) and the header line (size, digest, time since the last query).
// Kept apart from the widgets so that `vandryctl sources` prints the same rows.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/identity.h"
#include "discovery/neighbour_table.h"
#include "link/link_records.h"
#include "tasks/seed_table.h"

namespace vandry {

struct SeedingRow {
    HostIdentity identity{};
    std::string guid;   // identityText of the source
    std::string host;   // its nickname while the neighbour table knows it, else empty
    std::string code;   // "2:SEED_FLAG_READY"
    std::string time;   // the age of the entry's time, seedingAgeText
    std::string invoke; // "1" for READY, "2m0" for SUSPEND, else empty
};

// Columns 1-5 of every entry of the key's slot; host = the neighbour's nickname when the table knows it.
std::vector<SeedingRow> seedingRows(const SeedTable& seeds, const SourceInfo& key, std::int64_t now,
                                    const NeighbourTable& neighbours);
// "%d/%d" of the seconds since the slot's last query and the query interval; "" without a slot.
std::string seedingRefreshText(const SeedTable& seeds, const SourceInfo& key, std::int64_t now);
// "%u" of the size's low 32 bits, and the digest as 32 lower-case hex digits.
std::string seedingSizeText(const SourceInfo& key);
std::string seedingDigestText(const SourceInfo& key);

// Seconds under a minute as "%d", otherwise "%dm%d" of minutes and seconds. A time in the future
// (a picked source's hold-off) gives a negative age and shows as negative seconds.
std::string seedingAgeText(std::int64_t age);
// The identity in a GUID column, which may be wrapped in braces; nullopt for any other text.
std::optional<HostIdentity> seedingRowIdentity(std::string_view guid);

} // namespace vandry
