#pragma once
// The link table dump written to the event log (Ctrl+Shift+K while logging is on).

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "common/ipv4.h"

namespace vandry {

struct LinkSlotView {
    std::uint32_t datagramHandle = 0; // non-zero while the link runs over the datagram transport
    int socketHandle = -1;            // -1 while the link has no TCP socket
    std::optional<Endpoint> peer;     // the connected peer, when known
};

inline constexpr std::string_view kLinkDumpSeparator = "===============================\r\n";

std::string linkDumpText(std::span<const LinkSlotView> slots);

} // namespace vandry
