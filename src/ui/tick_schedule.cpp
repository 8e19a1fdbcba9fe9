#include "ui/tick_schedule.h"

namespace vandry {

TickSteps stepsForTick(std::uint32_t tick)
{
    TickSteps steps;
    steps.announce = tick % 20 == 0;
    steps.announceForm = tick % 80 == 0 ? 1 : 0;
    steps.runScheduler = tick % 5 == 0;
    steps.pollNetwork = tick % 12 == 0;
    steps.rebuildShareIndex = tick % 2400 == 0;
    steps.sweepIdleLinks = tick % 120 == 0;
    steps.trimMemoryIfHidden = tick % 4 == 0;
    return steps;
}

} // namespace vandry
