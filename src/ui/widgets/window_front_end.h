#pragma once

#include "qt/launch.h"

namespace vandry {

// Runs a copy with its window. Needs a QApplication.
int runWindow(const LaunchOptions& options);

} // namespace vandry
