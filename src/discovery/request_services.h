#pragma once
// What the endpoint needs to answer neighbours' requests (type 5): the share name index, the
// folder listings and the share hash table. Called on the endpoint's thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "discovery/control_datagram.h"

namespace vandry {

class RequestServices {
public:
    virtual ~RequestServices() = default;

    // Answers a share query into `destination` (the request payload, whose bytes 8-67 must be left
    // alone): the answer block's offsets 0-7 and its data from offset 68. Returns the result code;
    // only 0 is answered.
    virtual int query(std::string_view text, MutableByteSpan destination, std::uint8_t flags) = 0;
    // The listing records of a shared folder, at most `room` bytes. `wireFolderPath` is the
    // requested path as it arrived (it begins with "\"); the service joins it to the share root
    // and keeps it inside.
    virtual std::vector<std::uint8_t> listFolder(std::string_view wireFolderPath, std::size_t room) = 0;
    // The shared file with that key, or empty.
    virtual std::string pathForKey(const FileKey& key) = 0;
};

// For a copy that does not answer requests yet: queries fail, folders and keys are unknown.
class NoRequestServices final : public RequestServices {
public:
    int query(std::string_view, MutableByteSpan, std::uint8_t) override { return -1; }
    std::vector<std::uint8_t> listFolder(std::string_view, std::size_t) override { return {}; }
    std::string pathForKey(const FileKey&) override { return {}; }
};

} // namespace vandry
