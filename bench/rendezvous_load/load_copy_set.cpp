#include "load_copy_set.h"

#include <algorithm>

#include "discovery/compressed_datagram.h"
#include "discovery/control_datagram.h"

namespace vandry {

namespace {
constexpr std::uint8_t kMagic[] = {'V', 'L', 'G', '1'};
constexpr std::size_t kMaxDecoded = 200'000; // distinct datagrams remembered before starting afresh

std::uint64_t fnv1a(ByteSpan bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::uint8_t b : bytes)
        hash = (hash ^ b) * 0x100000001b3ull;
    return hash;
}
} // namespace

LoadCopySet::LoadCopySet(std::size_t copies, std::size_t first, std::size_t played, std::size_t watched)
    : copies_(copies)
{
    watched = std::min(watched, played);
    for (std::size_t k = 0; k < watched; ++k) {
        const auto copy = static_cast<std::uint32_t>(first + k * played / watched);
        watchedIndex_.emplace(copy, heard_.size());
        heard_.emplace_back(copies, 0);
    }
}

HostRecord LoadCopySet::recordOf(std::uint32_t copy, Ipv4 address, std::uint16_t port)
{
    HostRecord r;
    std::copy(std::begin(kMagic), std::end(kMagic), r.identity.begin());
    std::uint64_t filler = (copy + 1) * 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < 4; ++i)
        r.identity[4 + i] = static_cast<std::uint8_t>(copy >> (8 * i));
    for (std::size_t i = 8; i < 16; ++i, filler >>= 8)
        r.identity[i] = static_cast<std::uint8_t>(filler);
    r.lanPrimary = address;
    r.portUdp = port;
    r.portTcp = port;
    r.setNickname("load" + std::to_string(copy));
    return r;
}

std::optional<std::uint32_t> LoadCopySet::copyOf(const HostIdentity& identity)
{
    if (!std::equal(std::begin(kMagic), std::end(kMagic), identity.begin()))
        return std::nullopt;
    ByteReader in(ByteSpan(identity).subspan(4));
    return in.u32le();
}

const std::vector<std::uint32_t>& LoadCopySet::recordsOf(ByteSpan datagram, bool& ok)
{
    const std::uint64_t key = fnv1a(datagram);
    if (const auto it = decoded_.find(key); it != decoded_.end())
        return it->second;
    std::vector<std::uint8_t> bytes(datagram.begin(), datagram.end());
    const bool expanded = expandCompressedDatagram(bytes, ControlDatagram::kMaxSize) == LzwStatus::Ok;
    const auto records = expanded ? parseRecordList(ByteSpan(bytes).subspan(ControlDatagram::kSize)) : std::nullopt;
    if (!records) {
        ok = false;
        return none_;
    }
    std::vector<std::uint32_t> copies;
    for (const auto& record : *records)
        if (const auto copy = copyOf(record.identity); copy && *copy < copies_)
            copies.push_back(*copy);
    if (decoded_.size() >= kMaxDecoded)
        decoded_.clear();
    return decoded_.emplace(key, std::move(copies)).first->second;
}

bool LoadCopySet::listed(std::uint32_t copy, ByteSpan datagram, std::int64_t nowSeconds)
{
    const auto watched = watchedIndex_.find(copy);
    if (watched == watchedIndex_.end())
        return true; // only the watched copies read what they are sent
    bool ok = true;
    auto& heard = heard_[watched->second];
    for (const std::uint32_t other : recordsOf(datagram, ok))
        heard[other] = static_cast<std::uint16_t>(nowSeconds + 1);
    return ok;
}

std::size_t LoadCopySet::onlineOthers(std::uint32_t copy, std::size_t watchedSlot, std::int64_t nowSeconds) const
{
    const auto& heard = heard_[watchedSlot];
    const auto online = [&](std::uint16_t at) { return at != 0 && nowSeconds + 1 - at < kOnlineSeconds; };
    // A copy's own record may come back in a list; a copy does not count itself.
    return static_cast<std::size_t>(std::count_if(heard.begin(), heard.end(), online)) - online(heard[copy]);
}

std::size_t LoadCopySet::completeCount(std::int64_t nowSeconds) const
{
    std::size_t complete = 0;
    for (const auto& [copy, slot] : watchedIndex_)
        complete += onlineOthers(copy, slot, nowSeconds) >= wanted();
    return complete;
}

std::size_t LoadCopySet::fewestListed(std::int64_t nowSeconds) const
{
    std::size_t fewest = copies_;
    for (const auto& [copy, slot] : watchedIndex_)
        fewest = std::min(fewest, onlineOthers(copy, slot, nowSeconds));
    return fewest;
}

} // namespace vandry
