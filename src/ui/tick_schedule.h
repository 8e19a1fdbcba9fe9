#pragma once
// What the main window's one-second tick does on tick N, in this order.

#include <cstdint>

namespace vandry {

struct TickSteps {
    bool announce = false;           // every 20 ticks
    std::uint8_t announceForm = 0;   // 1 on multiples of 80, else 0
    bool updateTaskProgress = true;  // every tick, while the task list has rows
    bool runScheduler = false;       // every 5 ticks
    bool pollNetwork = false;        // every 12 ticks
    bool rebuildShareIndex = false;  // every 2400 ticks
    bool sweepIdleLinks = false;     // every 120 ticks
    bool trimMemoryIfHidden = false; // every 4 ticks, once after the window was hidden
};

TickSteps stepsForTick(std::uint32_t tickCount);

} // namespace vandry
