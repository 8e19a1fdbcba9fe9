#include "update/release_signature.h"

#include <charconv>

namespace vandry {

std::vector<std::uint8_t> encodeReleaseStatement(const ReleaseSignature& record)
{
    std::vector<std::uint8_t> out;
    ByteWriter write(out);
    write.bytes(asBytes(std::string(kReleaseSignatureMagic)));
    write.u32le(record.version);
    write.u64le(record.size);
    write.bytes(record.sha256);
    write.bytes(record.signer);
    return out;
}

std::vector<std::uint8_t> encodeReleaseSignature(const ReleaseSignature& record)
{
    auto out = encodeReleaseStatement(record);
    ByteWriter(out).bytes(record.signature);
    return out;
}

std::optional<ReleaseSignature> parseReleaseSignature(ByteSpan bytes)
{
    if (bytes.size() != kReleaseSignatureBytes)
        return std::nullopt;
    ByteReader read(bytes);
    const ByteSpan magic = read.span(kReleaseSignatureMagic.size());
    if (!std::equal(magic.begin(), magic.end(), kReleaseSignatureMagic.begin()))
        return std::nullopt;
    ReleaseSignature record;
    record.version = read.u32le();
    record.size = read.u64le();
    record.sha256 = read.bytes<32>();
    record.signer = read.bytes<32>();
    record.signature = read.bytes<64>();
    if (!read.ok())
        return std::nullopt;
    return record;
}

std::optional<ReleaseSignature> signRelease(const Ed25519PrivateKey& key, std::uint32_t version, std::uint64_t size,
                                            const Sha256Digest& sha256)
{
    ReleaseSignature record{version, size, sha256, key.publicKey(), {}};
    const auto signature = key.sign(encodeReleaseStatement(record));
    if (!signature)
        return std::nullopt;
    record.signature = *signature;
    return record;
}

bool signatureHolds(const ReleaseSignature& record)
{
    return verifyEd25519(record.signer, encodeReleaseStatement(record), record.signature);
}

std::optional<std::uint32_t> parseReleaseVersion(std::string_view text)
{
    std::uint32_t packed = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc{} || end == text.data() || value > 255 || end - text.data() > 3)
            return std::nullopt;
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        packed = packed << 8 | value;
    }
    if (!text.empty())
        return std::nullopt;
    return packed;
}

std::string releaseVersionText(std::uint32_t version)
{
    return std::to_string(version >> 24) + "." + std::to_string(version >> 16 & 0xFF) + "." +
           std::to_string(version >> 8 & 0xFF) + "." + std::to_string(version & 0xFF);
}

} // namespace vandry
