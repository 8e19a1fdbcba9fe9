#pragma once
// Return-routability checks. Before a source address gets more back than it sent, the server
// sends it a type 147 sub-type 0 datagram with a random 16-byte nonce; a copy echoes any such
// payload as type 147 sub-type 1 from where it receives, and only that echo, from the same address
// and port, carrying the same nonce, lets the announce through. A forged source address never sees
// the nonce. The check is 28 bytes, smaller than the 72-byte announce that caused it.
//
// One outstanding check per endpoint, holding the record that asked for it; checks expire, and at
// most `capacity` are outstanding, so a flood of forged announces costs bounded memory.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "common/bytes.h"
#include "common/ipv4.h"
#include "discovery/host_record.h"

namespace vandry {

class EndpointChecks {
public:
    static constexpr std::size_t kNonceSize = 16;
    using Nonce = std::array<std::uint8_t, kNonceSize>;

    EndpointChecks(std::size_t capacity, std::int64_t expirySeconds) : capacity_(capacity), expiry_(expirySeconds) {}

    // The nonce to send to `at` for `record` (the one already outstanding there, if any, so that an
    // echo in flight still counts), or nullopt when too many checks are outstanding.
    std::optional<Nonce> start(const HostRecord& record, Endpoint at, std::int64_t now);
    // The record whose check `payload` answers from `from`; the check is used up.
    std::optional<HostRecord> confirm(Endpoint from, ByteSpan payload, std::int64_t now);
    void forgetExpired(std::int64_t now);
    std::size_t size() const { return pending_.size(); }

    static std::vector<std::uint8_t> checkDatagram(const Nonce& nonce);

private:
    struct Pending {
        HostRecord record;
        Nonce nonce;
        std::int64_t sentAt;
    };
    static std::uint64_t key(Endpoint e) { return (std::uint64_t{e.address} << 16) | e.port; }

    std::size_t capacity_;
    std::int64_t expiry_;
    std::map<std::uint64_t, Pending> pending_;
};

} // namespace vandry
