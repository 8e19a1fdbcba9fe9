#include "server/core/endpoint_checks.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>

#include "discovery/control_datagram.h"

namespace vandry {

namespace {
constexpr std::uint8_t kEchoRequest = 0;

std::optional<EndpointChecks::Nonce> freshNonce()
{
    EndpointChecks::Nonce nonce{};
    if (RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) != 1)
        return std::nullopt;
    return nonce;
}
} // namespace

std::optional<EndpointChecks::Nonce> EndpointChecks::start(const HostRecord& record, Endpoint at, std::int64_t now)
{
    const auto it = pending_.find(key(at));
    if (it != pending_.end() && now - it->second.sentAt < expiry_) {
        it->second.record = record;
        return it->second.nonce;
    }
    if (it == pending_.end() && pending_.size() >= capacity_) {
        forgetExpired(now);
        if (pending_.size() >= capacity_)
            return std::nullopt;
    }
    const auto nonce = freshNonce();
    if (!nonce)
        return std::nullopt;
    pending_[key(at)] = Pending{record, *nonce, now};
    return nonce;
}

std::optional<HostRecord> EndpointChecks::confirm(Endpoint from, ByteSpan payload, std::int64_t now)
{
    const auto it = pending_.find(key(from));
    if (it == pending_.end() || payload.size() != kNonceSize)
        return std::nullopt;
    const Pending pending = it->second;
    if (now - pending.sentAt >= expiry_ || CRYPTO_memcmp(payload.data(), pending.nonce.data(), kNonceSize) != 0)
        return std::nullopt;
    pending_.erase(it);
    return pending.record;
}

void EndpointChecks::forgetExpired(std::int64_t now)
{
    std::erase_if(pending_, [this, now](const auto& entry) { return now - entry.second.sentAt >= expiry_; });
}

std::vector<std::uint8_t> EndpointChecks::checkDatagram(const Nonce& nonce)
{
    ControlDatagram header;
    header.type = static_cast<std::uint8_t>(ControlType::Echo);
    header.subType = kEchoRequest;
    return *buildControlDatagram(header, nonce);
}

} // namespace vandry
