#include "server/core/served_path.h"

#include "server/core/percent_decoding.h"

namespace vandry {

namespace {
bool isPlainName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}
} // namespace

std::optional<std::vector<std::string>> servedPathNames(std::string_view encodedPath)
{
    if (encodedPath.size() > kMaxServedPathBytes || encodedPath.empty() || encodedPath.front() != '/')
        return std::nullopt;
    std::vector<std::string> names;
    std::string_view rest = encodedPath.substr(1);
    while (true) {
        const auto slash = rest.find('/');
        auto name = percentDecode(rest.substr(0, slash));
        if (!name || !isPlainName(*name))
            return std::nullopt;
        names.push_back(std::move(*name));
        if (slash == std::string_view::npos)
            return names;
        rest = rest.substr(slash + 1);
    }
}

} // namespace vandry
