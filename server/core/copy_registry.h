#pragma once
// A registry that several rendezvous servers share, so that copies registered at different servers
// list each other. Each server publishes the copies it has verified and heard, with the time it
// heard them; the registry keeps an entry until it has not been published for the forget time (the
// engine expires it, not the servers), and each server takes in every entry now and then
// (RendezvousServer::takeRegistrySnapshot).
//
// An entry's value, as stored in the engine:
//   0  60 bytes  the HostRecord, mapped address and port as the publishing server verified them
//   60 u64le     when that server last heard the copy, seconds since 1970
// Entries come from outside this process: one that does not parse is skipped.

#include <cstdint>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "discovery/host_record.h"

namespace vandry {

struct RegistryEntry {
    static constexpr std::size_t kSize = HostRecord::kSize + 8;

    HostRecord record;
    std::int64_t heardAt = 0;
};

std::vector<std::uint8_t> encodeRegistryEntry(const RegistryEntry& entry);
std::optional<RegistryEntry> parseRegistryEntry(ByteSpan bytes);

class CopyRegistry {
public:
    virtual ~CopyRegistry() = default;
    // Queues the entry for the registry; never blocks.
    virtual void publish(const RegistryEntry& entry) = 0;
};

} // namespace vandry
