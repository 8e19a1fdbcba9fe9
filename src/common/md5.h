#pragma once
// MD5 (RFC 1321) through OpenSSL's libcrypto. Used for file digests and the machine part of the
// host identity; not for anything that needs collision resistance.

#include <array>
#include <cstdint>
#include <memory>

#include "common/bytes.h"

struct evp_md_ctx_st;

namespace vandry {

using Md5Digest = std::array<std::uint8_t, 16>;

class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    void update(ByteSpan data);
    // Pads, returns the digest and starts over, so one object can hash several messages.
    Md5Digest finish();

private:
    struct ContextFree {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextFree> context_;
};

Md5Digest md5(ByteSpan data);

} // namespace vandry
