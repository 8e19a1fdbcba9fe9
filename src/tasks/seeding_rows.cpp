#include "tasks/seeding_rows.h"

#include "common/hex.h"

namespace vandry {

namespace {
std::string invokeText(std::uint8_t state)
{
    if (state == SEED_FLAG_READY)
        return "1";
    if (state == SEED_FLAG_SUSPEND)
        return "2m0";
    return {};
}

std::string hostText(const NeighbourTable& neighbours, const HostIdentity& identity)
{
    const auto slot = neighbours.findByHexText(identityHex(identity));
    return slot ? neighbours.at(*slot).host.nickname() : std::string{};
}
} // namespace

std::string seedingAgeText(std::int64_t age)
{
    if (age / 60 < 1)
        return std::to_string(age % 60);
    return std::to_string(age / 60) + "m" + std::to_string(age % 60);
}

std::vector<SeedingRow> seedingRows(const SeedTable& seeds, const SourceInfo& key, std::int64_t now,
                                    const NeighbourTable& neighbours)
{
    std::vector<SeedingRow> rows;
    const auto slot = seeds.view(key);
    if (!slot)
        return rows;
    rows.reserve(slot->entries.size());
    for (const SeedEntry& entry : slot->entries) {
        rows.push_back({entry.identity, identityText(entry.identity), hostText(neighbours, entry.identity),
                        std::to_string(entry.state) + ":" + std::string(seedStateName(entry.state)),
                        seedingAgeText(now - entry.time), invokeText(entry.state)});
    }
    return rows;
}

std::string seedingRefreshText(const SeedTable& seeds, const SourceInfo& key, std::int64_t now)
{
    const auto slot = seeds.view(key);
    if (!slot)
        return {};
    return std::to_string(now - slot->refreshTime) + "/" + std::to_string(SeedTable::kQueryInterval);
}

std::string seedingSizeText(const SourceInfo& key)
{
    return std::to_string(key.sizeLow);
}

std::string seedingDigestText(const SourceInfo& key)
{
    return hexEncode(key.digest);
}

std::optional<HostIdentity> seedingRowIdentity(std::string_view guid)
{
    if (guid.starts_with('{')) {
        guid.remove_prefix(1);
        if (guid.ends_with('}'))
            guid.remove_suffix(1);
    }
    return identityFromText(guid);
}

} // namespace vandry
