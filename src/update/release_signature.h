#pragma once
// The signature a publisher puts beside each release, as the release's address + ".sig": one
// binary record of 148 bytes, integers little-endian.
//
//   offset size
//        0    8  magic "VNDRYSIG"
//        8    4  version of the release, packed a<<24 | b<<16 | c<<8 | d
//       12    8  size of the release file in bytes
//       20   32  SHA-256 of the release file
//       52   32  the signer's Ed25519 public key
//       84   64  Ed25519 signature of bytes 0-83
//
// Any other length or magic is no signature. The version signed here stands in for the version
// resource a Linux executable does not have.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "update/ed25519.h"

namespace vandry {

inline constexpr std::size_t kReleaseStatementBytes = 84;
inline constexpr std::size_t kReleaseSignatureBytes = kReleaseStatementBytes + 64;
inline constexpr std::string_view kReleaseSignatureMagic = "VNDRYSIG";
inline constexpr std::string_view kReleaseSignatureSuffix = ".sig";

struct ReleaseSignature {
    std::uint32_t version = 0;
    std::uint64_t size = 0;
    Sha256Digest sha256{};
    Ed25519PublicKey signer{};
    Ed25519Signature signature{};
    bool operator==(const ReleaseSignature&) const = default;
};

// Bytes 0-83: what the signature covers.
std::vector<std::uint8_t> encodeReleaseStatement(const ReleaseSignature& record);
std::vector<std::uint8_t> encodeReleaseSignature(const ReleaseSignature& record);
std::optional<ReleaseSignature> parseReleaseSignature(ByteSpan bytes);

// Signs a release: its version, size and hash, with the key's public half as signer.
std::optional<ReleaseSignature> signRelease(const Ed25519PrivateKey& key, std::uint32_t version, std::uint64_t size,
                                            const Sha256Digest& sha256);
// Whether the record's signature is its signer's over its statement.
bool signatureHolds(const ReleaseSignature& record);

// "a.b.c.d", each 0 to 255; nullopt for anything else.
std::optional<std::uint32_t> parseReleaseVersion(std::string_view text);
std::string releaseVersionText(std::uint32_t version);

} // namespace vandry
