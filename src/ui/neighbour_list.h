#pragma once
// The rows of the neighbour list: every slot of the neighbour table, the local copy included,
// heard from in the last 120 seconds, in slot order.

#include <string>
#include <vector>

#include "discovery/neighbour_table.h"

namespace vandry {

struct NeighbourRow {
    std::string nickname;
    std::string identityHex; // 32 lower-case digits: the row's key
    NeighbourSlot slot;
    bool silent = false; // a browse of its share went unanswered
    bool operator==(const NeighbourRow&) const = default;
};

std::vector<NeighbourRow> neighbourRows(const NeighbourTable& table);

} // namespace vandry
