#include "load_options.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace vandry {

const char* const kLoadUsage =
    "usage: rendezvous_load [options]\n"
    "  --server ADDR:PORT   rendezvous server (127.0.0.1:3333)\n"
    "  --copies N           copies to play, 1 to 200000 (1000)\n"
    "  --first-copy K       play copies K to K+N-1, so that several runs play one population (0)\n"
    "  --population P       copies in the whole population, all runs together (K+N)\n"
    "  --join-within S      spread the first announces over S seconds (20)\n"
    "  --duration S         length of the run, at most 3600 (120)\n"
    "  --period S           announce period (20)\n"
    "  --first ADDR         loopback address of copy 0; copy i uses ADDR + i (127.1.0.1)\n"
    "  --watch N            copies whose lists are checked (default: as many as memory allows)\n"
    "  --server-pid PID     report this process's CPU share and peak memory\n"
    "  --measure-from S     rates over the run from second S on (two periods after the last join)\n"
    "  --expect-complete    exit 1 unless every watched copy's list is complete at the end\n";

namespace {
bool number(std::string_view text, double min, double max, double& out)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return false;
    out = value;
    return true;
}

std::optional<Endpoint> endpoint(std::string_view text)
{
    const auto colon = text.rfind(':');
    double port = 0;
    if (colon == std::string_view::npos || !number(text.substr(colon + 1), 1, 65535, port))
        return std::nullopt;
    const auto address = ipv4FromText(text.substr(0, colon));
    if (!address)
        return std::nullopt;
    return Endpoint{*address, static_cast<std::uint16_t>(port)};
}
} // namespace

std::optional<LoadOptions> parseLoadOptions(int argc, char** argv, std::string& error)
{
    LoadOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--help" || name == "-h")
            return std::nullopt;
        if (name == "--expect-complete") {
            o.expectComplete = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = std::string(name) + " wants a value";
            return std::nullopt;
        }
        const std::string_view value = argv[++i];
        double n = 0;
        bool ok = true;
        if (name == "--server") {
            const auto e = endpoint(value);
            ok = e.has_value();
            if (ok)
                o.server = *e;
        } else if (name == "--first") {
            const auto a = ipv4FromText(value);
            ok = a && (*a >> 24) == 127;
            if (ok)
                o.firstAddress = *a;
        } else if (name == "--copies" && (ok = number(value, 1, 200'000, n))) {
            o.copies = static_cast<std::uint32_t>(n);
        } else if (name == "--first-copy" && (ok = number(value, 0, 1'000'000, n))) {
            o.firstCopy = static_cast<std::uint32_t>(n);
        } else if (name == "--population" && (ok = number(value, 1, 1'200'000, n))) {
            o.population = static_cast<std::uint32_t>(n);
        } else if (name == "--join-within" && (ok = number(value, 0, 3600, n))) {
            o.joinWithinSeconds = n;
        } else if (name == "--duration" && (ok = number(value, 1, 3600, n))) {
            o.durationSeconds = n;
        } else if (name == "--period" && (ok = number(value, 1, 600, n))) {
            o.periodSeconds = n;
        } else if (name == "--watch" && (ok = number(value, 1, 200'000, n))) {
            o.watched = static_cast<std::uint32_t>(n);
        } else if (name == "--server-pid" && (ok = number(value, 1, 1 << 30, n))) {
            o.serverPid = static_cast<int>(n);
        } else if (name == "--measure-from" && (ok = number(value, 0, 3600, n))) {
            o.measureFromSeconds = n;
        } else if (ok) {
            error = "unknown option " + std::string(name);
            return std::nullopt;
        }
        if (!ok) {
            error = "bad value for " + std::string(name) + ": " + std::string(value);
            return std::nullopt;
        }
    }
    if (o.population == 0)
        o.population = o.firstCopy + o.copies;
    if (o.population < o.firstCopy + o.copies) {
        error = "--population is smaller than the copies played";
        return std::nullopt;
    }
    if ((o.firstAddress & 0xFFFFFF) + o.copies > 0xFFFFFF) {
        error = "--first leaves no room for that many copies in 127.0.0.0/8";
        return std::nullopt;
    }
    return o;
}

} // namespace vandry
