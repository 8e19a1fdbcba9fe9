#pragma once
// The start-up command-line reader. An older copy that hands over to a freshly downloaded
// one starts it with "-u TARGET" (or a bare target path); "-r" relaunches; a log-on start
// ends in " -auto" and skips the reader.

#include <string>
#include <string_view>
#include <vector>

namespace vandry {

inline constexpr std::size_t kMaxCommandLineTokens = 20;

// Splits a command line as the reader does: quoted tokens, then one unquoted token (counted
// even when empty), repeated while text remains, at most 20 tokens.
std::vector<std::string> splitCommandLineTokens(std::string_view commandLine);

enum class StartKind {
    Exit = 0,     // stop at once
    Ordinary = 1, // run the instance guard and the main window
    HandOver = 2, // an upgrade hand-over is due: run the upgrade step, no main window
};

struct StartDecision {
    StartKind kind = StartKind::Ordinary;
    std::string targetPath;
    // "-r": wait three seconds, open the target path with the desktop, then exit.
    bool openTargetAfterDelay = false;
    bool autoStart = false; // the line ended in " -auto"; the reader did not run
};

StartDecision readCommandLine(std::string_view commandLine);

// The command line as one text: the program path quoted, then each argument, quoted when it
// holds a blank or is empty, separated by single blanks.
std::string joinCommandLine(std::string_view programPath, const std::vector<std::string>& arguments);

} // namespace vandry
