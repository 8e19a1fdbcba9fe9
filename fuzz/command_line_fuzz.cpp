#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto tokens = vandry::splitCommandLineTokens(line);
    if (tokens.empty() || tokens.size() > vandry::kMaxCommandLineTokens)
        __builtin_trap();
    vandry::readCommandLine(line);
    return 0;
}
