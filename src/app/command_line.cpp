#include "app/command_line.h"

#include "common/text.h"

namespace vandry {

namespace {
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}
} // namespace

std::vector<std::string> splitCommandLineTokens(std::string_view rest)
{
    std::vector<std::string> tokens;
    do {
        rest = trimLeft(rest);
        while (!rest.empty() && rest.front() == '"' && tokens.size() < kMaxCommandLineTokens) {
            const auto close = rest.find('"', 1);
            if (close == std::string_view::npos) {
                rest = {}; // an unterminated quote drops the rest
                break;
            }
            tokens.emplace_back(rest.substr(1, close - 1));
            rest = trimLeft(rest.substr(close + 1));
        }
        if (tokens.size() >= kMaxCommandLineTokens)
            break;
        std::size_t end = 0;
        while (end < rest.size() && !isBlank(rest[end]))
            ++end;
        tokens.emplace_back(rest.substr(0, end));
        rest = trimLeft(rest.substr(end));
    } while (!rest.empty() && tokens.size() < kMaxCommandLineTokens);
    return tokens;
}

StartDecision readCommandLine(std::string_view commandLine)
{
    StartDecision decision;
    constexpr std::string_view kAuto = " -auto";
    if (commandLine.size() >= kAuto.size() && commandLine.substr(commandLine.size() - kAuto.size()) == kAuto) {
        decision.autoStart = true;
        return decision;
    }
    const auto tokens = splitCommandLineTokens(commandLine);
    if (tokens.size() < 2)
        return decision;
    if (equalsIgnoreAsciiCase(tokens[1], "-u") && tokens.size() >= 3)
        decision.targetPath = tokens[2];
    if (equalsIgnoreAsciiCase(tokens[1], "-r") && tokens.size() == 2) {
        decision.kind = StartKind::Exit;
        decision.openTargetAfterDelay = true;
        return decision;
    }
    if (decision.targetPath.empty())
        decision.targetPath = tokens[1];
    decision.kind = decision.targetPath.empty() ? StartKind::Ordinary : StartKind::HandOver;
    return decision;
}

std::string joinCommandLine(std::string_view programPath, const std::vector<std::string>& arguments)
{
    std::string line = "\"" + std::string(programPath) + "\"";
    for (const auto& argument : arguments) {
        line += ' ';
        bool needsQuotes = argument.empty();
        for (char c : argument)
            needsQuotes = needsQuotes || isBlank(c);
        line += needsQuotes ? "\"" + argument + "\"" : argument;
    }
    return line;
}

} // namespace vandry
