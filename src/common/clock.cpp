#include "common/clock.h"

#include <chrono>

namespace vandry {

std::int64_t SystemClock::nowSeconds() const
{
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::uint32_t SystemClock::tickMs() const
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace vandry
