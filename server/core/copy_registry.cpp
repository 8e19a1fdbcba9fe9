#include "server/core/copy_registry.h"

namespace vandry {

std::vector<std::uint8_t> encodeRegistryEntry(const RegistryEntry& entry)
{
    std::vector<std::uint8_t> out;
    out.reserve(RegistryEntry::kSize);
    ByteWriter writer(out);
    encodeHostRecord(entry.record, writer);
    writer.u64le(static_cast<std::uint64_t>(entry.heardAt));
    return out;
}

std::optional<RegistryEntry> parseRegistryEntry(ByteSpan bytes)
{
    if (bytes.size() != RegistryEntry::kSize)
        return std::nullopt;
    ByteReader in(bytes);
    auto record = parseHostRecord(in);
    const auto heardAt = static_cast<std::int64_t>(in.u64le());
    if (!record || !in.ok() || isZero(record->identity) || heardAt < 0)
        return std::nullopt;
    return RegistryEntry{*record, heardAt};
}

} // namespace vandry
