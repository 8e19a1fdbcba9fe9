#pragma once
// Texts from outside (nicknames, feed client identities) go into the server's log only through
// here, so that a hostile value can neither forge log lines nor flood them.

#include <cstddef>
#include <string>
#include <string_view>

namespace vandry {

// At most `maxBytes` bytes of `text`, with every byte outside printable ASCII shown as '?'.
std::string printableForLog(std::string_view text, std::size_t maxBytes = 64);

} // namespace vandry
