#include "discovery/request_server.h"

#include <algorithm>

#include "discovery/control_datagram.h"

namespace vandry {

namespace {
constexpr std::size_t kRecordOffset = 8;
constexpr std::size_t kMaxPayload = ControlDatagram::kMaxSize - ControlDatagram::kSize;
// Answer block: the length field, 8 bytes up to the record, then the two u16 counts at 4 and 6.
constexpr std::size_t kAnswerCountsExtra = 8;

std::vector<std::uint8_t> requestBytes(const Request& request, ByteSpan payload)
{
    const auto used = payload.first(request.header.payloadLength);
    return {used.begin(), used.end()};
}

std::optional<std::vector<std::uint8_t>> answerQuery(const Request& request, ByteSpan payload,
                                                     RequestServices& services)
{
    std::vector<std::uint8_t> answer(kQueryCapacity, 0);
    const auto used = payload.first(std::min<std::size_t>(request.header.payloadLength, answer.size()));
    std::copy(used.begin(), used.end(), answer.begin());
    // request.text is a copy, so the service may overwrite the text inside `answer` as it goes.
    if (services.query(request.text, answer, request.header.flags) != 0)
        return std::nullopt;
    const std::size_t length =
        loadU16le(answer, 0) + kAnswerCountsExtra + 2 * (std::size_t{loadU16le(answer, 4)} + loadU16le(answer, 6));
    if (length < RequestHeader::kSize || length > answer.size())
        return std::nullopt;
    answer.resize(length);
    return answer;
}

std::optional<std::vector<std::uint8_t>> answerListing(const Request& request, ByteSpan payload,
                                                       RequestServices& services)
{
    if (request.text.empty() || request.text.front() != '\\')
        return std::nullopt;
    const std::size_t room = kMaxPayload - request.header.payloadLength;
    const auto listing = services.listFolder(collapseDoubleSeparators(request.text), room);
    if (listing.size() > room)
        return std::nullopt;
    auto reply = requestBytes(request, payload);
    reply.insert(reply.end(), listing.begin(), listing.end());
    return reply;
}

std::vector<std::uint8_t> answerSourceLookup(const Request& request, ByteSpan payload, RequestServices& services)
{
    auto reply = requestBytes(request, payload);
    const std::string path = services.pathForKey(request.key);
    // A path that would not fit is answered like no path: the requester learns nothing wrong.
    if (!path.empty() && reply.size() + path.size() + 1 <= kMaxPayload) {
        reply.insert(reply.end(), path.begin(), path.end());
        reply.push_back(0);
    }
    return reply;
}

std::optional<std::vector<std::uint8_t>> answer(const Request& request, ByteSpan payload, RequestServices& services)
{
    switch (static_cast<RequestKind>(request.header.kind)) {
    case RequestKind::ShareQuery:
        return answerQuery(request, payload, services);
    case RequestKind::FolderListing:
        return answerListing(request, payload, services);
    case RequestKind::SourceLookup:
        return answerSourceLookup(request, payload, services);
    }
    return std::nullopt;
}
} // namespace

std::optional<ServedRequest> serveRequest(ByteSpan payload, RequestServices& services, const HostRecord& local)
{
    if (payload.size() > kMaxPayload)
        return std::nullopt;
    const auto request = parseRequest(payload);
    if (!request)
        return std::nullopt;
    auto reply = answer(*request, payload, services);
    if (!reply)
        return std::nullopt;
    const auto record = encodeHostRecord(local);
    std::copy(record.begin(), record.end(), reply->begin() + kRecordOffset);
    return ServedRequest{request->header.record, std::move(*reply)};
}

std::string collapseDoubleSeparators(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        out += path[i];
        if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '\\')
            ++i;
    }
    return out;
}

} // namespace vandry
