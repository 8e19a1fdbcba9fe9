#include "server/core/rendezvous_stats.h"

#include <cstdio>
#include <numeric>

namespace vandry {

std::uint64_t RendezvousStats::refusalTotal() const
{
    return std::accumulate(refusals.begin(), refusals.end(), std::uint64_t{0});
}

std::string statsLine(std::size_t copies, const RendezvousStats& now, const RendezvousStats& before, double seconds)
{
    const auto rate = [seconds](std::uint64_t after, std::uint64_t earlier) {
        return seconds > 0 ? static_cast<double>(after - earlier) / seconds : 0.0;
    };
    char line[640];
    std::snprintf(line, sizeof line,
                  "stats: %zu copies; per second: %.1f announces, %.1f checks, %.1f new, %.1f full lists, "
                  "%.1f updates, %.1f list datagrams (%.0f B), %.1f pushes, %.1f refusals, %.1f relayed (%.0f B), "
                  "%.1f over relay budget; relayed in all: %llu B",
                  copies, rate(now.announces, before.announces), rate(now.checksSent, before.checksSent),
                  rate(now.newCopies, before.newCopies), rate(now.fullLists, before.fullLists),
                  rate(now.updateLists, before.updateLists), rate(now.listDatagrams, before.listDatagrams),
                  rate(now.listBytes, before.listBytes), rate(now.pushDatagrams, before.pushDatagrams),
                  rate(now.refusalTotal(), before.refusalTotal()), rate(now.relayed, before.relayed),
                  rate(now.relayedBytes, before.relayedBytes), rate(now.relayOverBudget, before.relayOverBudget),
                  static_cast<unsigned long long>(now.relayedBytes));
    return line;
}

} // namespace vandry
