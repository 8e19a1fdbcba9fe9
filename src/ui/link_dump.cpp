#include "ui/link_dump.h"

#include <cstdio>

namespace vandry {

std::string linkDumpText(std::span<const LinkSlotView> slots)
{
    std::string text(kLinkDumpSeparator);
    char line[128];
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const LinkSlotView& slot = slots[i];
        const int index = static_cast<int>(i);
        const int udt = static_cast<int>(slot.datagramHandle);
        if (slot.peer && (slot.datagramHandle != 0 || slot.socketHandle >= 0))
            std::snprintf(line, sizeof line, "%2d. UDT=%d, LinkSocket=%d, %s:%d\r\n", index, udt, slot.socketHandle,
                          ipv4ToText(slot.peer->address).c_str(), slot.peer->port);
        else
            std::snprintf(line, sizeof line, "%2d. UDT=%d, LinkSocket=%d\r\n", index, udt, slot.socketHandle);
        text += line;
    }
    text += kLinkDumpSeparator;
    return text;
}

} // namespace vandry
