#include "update/older_process_wait.h"

namespace vandry {

bool OlderProcessWait::tick()
{
    if (ticks_ >= kHandOverWaitTicks)
        return true;
    ++ticks_;
    if (older_ == nullptr || !older_->running())
        return true;
    if (ticks_ < kHandOverWaitTicks)
        return false;
    older_->terminate();
    terminated_ = true;
    return true;
}

} // namespace vandry
