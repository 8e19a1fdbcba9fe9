#pragma once
// The link table's part for stream tests: every stream of the running copy, in one list.

#include <memory>
#include <vector>

#include "link/file_stream.h"

namespace vandry::testing {

class StreamList final : public OpenStreams {
public:
    void forEachStream(const std::function<void(const FileStream&)>& visit) const override
    {
        for (const auto& stream : streams_)
            visit(*stream);
    }
    FileStream& add(StreamTable& table)
    {
        streams_.push_back(std::make_unique<FileStream>(table, *this));
        return *streams_.back();
    }

private:
    std::vector<std::unique_ptr<FileStream>> streams_;
};

} // namespace vandry::testing
