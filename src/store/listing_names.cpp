#include "store/listing_names.h"

#include "common/text.h"

namespace vandry {

bool isPlainName(std::string_view name)
{
    using namespace std::string_view_literals;
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\\0"sv) == std::string_view::npos;
}

bool isPlainWireFolder(std::string_view wire)
{
    while (!wire.empty()) {
        const auto separator = wire.find('\\');
        const auto component = wire.substr(0, separator);
        if (!component.empty() && !isPlainName(component))
            return false;
        wire = separator == std::string_view::npos ? std::string_view{} : wire.substr(separator + 1);
    }
    return true;
}

bool isSafeListedName(std::string_view name)
{
    return isPlainName(name) && validUtf8(name) == name;
}

bool isSafeListedFolder(std::string_view wire)
{
    return isPlainWireFolder(wire) && validUtf8(wire) == wire;
}

} // namespace vandry
