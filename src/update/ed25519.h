#pragma once
// Ed25519 signatures and SHA-256 through OpenSSL's libcrypto: what a release is signed and
// checked with.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/bytes.h"

struct evp_pkey_st;

namespace vandry {

using Ed25519PublicKey = std::array<std::uint8_t, 32>;
using Ed25519Signature = std::array<std::uint8_t, 64>;
using Sha256Digest = std::array<std::uint8_t, 32>;

class Ed25519PrivateKey {
public:
    // nullopt only when libcrypto cannot make a key.
    static std::optional<Ed25519PrivateKey> generate();
    // A PKCS#8 PEM text as toPem() writes it (and `openssl genpkey -algorithm ed25519` does).
    static std::optional<Ed25519PrivateKey> fromPem(std::string_view pem);

    std::string toPem() const;
    Ed25519PublicKey publicKey() const;
    std::optional<Ed25519Signature> sign(ByteSpan message) const;

private:
    struct KeyFree {
        void operator()(evp_pkey_st* key) const;
    };
    explicit Ed25519PrivateKey(evp_pkey_st* key) : key_(key) {}
    std::unique_ptr<evp_pkey_st, KeyFree> key_;
};

bool verifyEd25519(const Ed25519PublicKey& key, ByteSpan message, const Ed25519Signature& signature);

// Hashes a stream of pieces.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void update(ByteSpan data);
    Sha256Digest finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vandry
