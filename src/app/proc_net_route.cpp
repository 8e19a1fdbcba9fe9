#include "app/proc_net_route.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <optional>

namespace vandry {

namespace {

constexpr std::size_t kIfaceField = 0;
constexpr std::size_t kDestinationField = 1;
constexpr std::size_t kGatewayField = 2;
constexpr std::size_t kMetricField = 6;
constexpr std::size_t kMaskField = 7;
constexpr std::size_t kFieldsNeeded = 8;

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        const auto start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos)
            break;
        const auto end = std::min(line.find_first_of(" \t\r", start), line.size());
        fields.push_back(line.substr(start, end - start));
        at = end;
    }
    return fields;
}

template <typename T> std::optional<T> parseWhole(std::string_view field, int base)
{
    T value{};
    const char* end = field.data() + field.size();
    const auto [next, ec] = std::from_chars(field.data(), end, value, base);
    if (field.empty() || ec != std::errc{} || next != end)
        return std::nullopt;
    return value;
}

// The kernel prints the address word as it sits in memory, so its bytes are already in network
// order when laid out natively.
std::optional<Ipv4> parseAddressWord(std::string_view field)
{
    if (field.size() > 8)
        return std::nullopt;
    auto word = parseWhole<std::uint32_t>(field, 16);
    if (!word)
        return std::nullopt;
    if constexpr (std::endian::native == std::endian::little)
        return ((*word & 0xFF) << 24) | ((*word & 0xFF00) << 8) | ((*word >> 8) & 0xFF00) | (*word >> 24);
    return *word;
}

std::optional<RouteRow> parseRow(std::string_view line, const InterfaceIndexMap& indexes)
{
    const auto fields = splitFields(line);
    if (fields.size() < kFieldsNeeded)
        return std::nullopt;
    const auto index = indexes.find(fields[kIfaceField]);
    const auto destination = parseAddressWord(fields[kDestinationField]);
    const auto nextHop = parseAddressWord(fields[kGatewayField]);
    const auto mask = parseAddressWord(fields[kMaskField]);
    const auto metric = parseWhole<std::uint32_t>(fields[kMetricField], 10);
    if (index == indexes.end() || !destination || !nextHop || !mask || !metric)
        return std::nullopt;
    return RouteRow{*destination, *mask, *nextHop, index->second, *metric};
}

} // namespace

std::vector<RouteRow> parseProcNetRoute(std::string_view text, const InterfaceIndexMap& indexes)
{
    std::vector<RouteRow> rows;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const auto line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (auto row = parseRow(line, indexes))
            rows.push_back(*row);
    }
    return rows;
}

Ipv4 defaultGatewayOf(std::span<const RouteRow> routes, std::uint32_t interfaceIndex)
{
    for (const auto& row : routes)
        if (row.interfaceIndex == interfaceIndex && row.destination == 0 && row.mask == 0 && row.nextHop != 0)
            return row.nextHop;
    return 0;
}

} // namespace vandry
