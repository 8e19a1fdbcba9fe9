#include "common/wire_path.h"

namespace vandry {

std::string wireFileName(std::string_view wirePath)
{
    const auto separator = wirePath.rfind('\\');
    return std::string(separator == std::string_view::npos ? wirePath : wirePath.substr(separator + 1));
}

} // namespace vandry
