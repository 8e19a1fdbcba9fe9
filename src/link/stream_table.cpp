#include "link/stream_table.h"

namespace vandry {

std::optional<StreamSlot> StreamTable::findByPath(std::string_view path) const
{
    for (std::size_t i = 0; i < kSlots; ++i)
        if (used_[i] && entries_[i].path == path)
            return StreamSlot{static_cast<std::uint8_t>(i)};
    return std::nullopt;
}

std::optional<StreamSlot> StreamTable::findByOwner(const HostIdentity& task) const
{
    if (isZero(task))
        return std::nullopt;
    for (std::size_t i = 0; i < kSlots; ++i)
        if (used_[i] && entries_[i].ownerTask == task)
            return StreamSlot{static_cast<std::uint8_t>(i)};
    return std::nullopt;
}

std::optional<StreamSlot> StreamTable::place(StreamEntry entry)
{
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (!used_[i]) {
            entries_[i] = std::move(entry);
            used_[i] = true;
            return StreamSlot{static_cast<std::uint8_t>(i)};
        }
    }
    return std::nullopt;
}

void StreamTable::release(StreamSlot slot)
{
    entries_[slot.index] = StreamEntry{};
    used_[slot.index] = false;
}

} // namespace vandry
