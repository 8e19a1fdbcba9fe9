#pragma once

#include "qt/launch.h"

namespace vandry {

// Runs a copy without a window until SIGINT, SIGTERM or a stop command. Needs a QCoreApplication.
int runHeadless(const LaunchOptions& options);

} // namespace vandry
