#include "ui/neighbour_list.h"

namespace vandry {

std::vector<NeighbourRow> neighbourRows(const NeighbourTable& table)
{
    std::vector<NeighbourRow> rows;
    for (const NeighbourSlot slot : table.listed()) {
        const HostRecord& host = table.at(slot).host;
        rows.push_back({host.nickname(), identityHex(host.identity), slot});
    }
    return rows;
}

} // namespace vandry
