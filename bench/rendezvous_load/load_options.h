#pragma once
// The command line of rendezvous_load.

#include <cstdint>
#include <optional>
#include <string>

#include "common/ipv4.h"

namespace vandry {

struct LoadOptions {
    Endpoint server{0x7F000001, 3333};
    std::uint32_t copies = 1000;
    std::uint32_t firstCopy = 0;    // this run plays copies firstCopy .. firstCopy + copies - 1
    std::uint32_t population = 0;   // copies in the whole system (other runs play the rest); 0: ours
    double joinWithinSeconds = 20;  // first announces spread evenly over this
    double durationSeconds = 120;   // the whole run, joining included
    double periodSeconds = 20;      // a copy announces this often
    Ipv4 firstAddress = 0x7F010001; // copy i announces from this address + i
    std::uint32_t watched = 0;      // 0: as many as memory allows
    int serverPid = 0;              // measure this process's CPU and memory
    double measureFromSeconds = -1; // rates over [this, end]; -1: two periods after the last join
    bool expectComplete = false;    // exit 1 unless every watched copy's list is complete at the end
};

// nullopt with `error` set when the arguments are wrong; `error` empty with nullopt for --help.
std::optional<LoadOptions> parseLoadOptions(int argc, char** argv, std::string& error);
extern const char* const kLoadUsage;

} // namespace vandry
