#pragma once
// One copy's way from an upgrade offer to the hand-over: the prompt (or, with nobody to ask,
// the feed's automatic flag alone), the download with its checks, and starting the verified
// release before the copy quits. A release that was refused is not fetched again in this run;
// while an offer is being handled, further offers are ignored.

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "update/executable_replacement.h"
#include "update/release_check.h"
#include "update/update_checker.h"

namespace vandry {

enum class PromptMode {
    Ask,            // "升级" starts the download
    Automatic,      // the download starts at once
    NotReplaceable, // says why this copy cannot upgrade itself; nothing is downloaded
};

class UpgradeFlow {
public:
    enum class State { Idle, Prompting, Downloading, Cancelling, Finished, HandingOver };

    struct Hooks {
        std::function<ReplaceBlock()> replaceBlock; // of the running executable
        // Opens the prompt; none when nobody can be asked (then only automatic offers proceed).
        std::function<void(const UpgradeOffer&, PromptMode)> openPrompt;
        std::function<void(const UpgradeOffer&)> startDownload; // answered by downloadFinished()
        std::function<void()> cancelDownload;
        std::function<void(UpgradeRefusal)> showOutcome; // in the open prompt
        // Runs the verified release, which the feed offered as `version`.
        std::function<bool(const std::filesystem::path&, std::uint32_t version)> startHandOver;
        std::function<void()> quit;
        std::function<void(const std::string&)> log; // one event-log line, without its line end
    };

    explicit UpgradeFlow(Hooks hooks) : hooks_(std::move(hooks)) {}

    void offer(const UpgradeOffer& offer);
    // The user said yes ("升级").
    void consent();
    // The prompt closed: cancelled, or its time limit ran out.
    void promptClosed();
    // The download ended: None with the verified file, or why it was refused (the file is gone).
    void downloadFinished(UpgradeRefusal refusal, const std::filesystem::path& file);

    State state() const { return state_; }

private:
    void startDownload();
    void refuse(UpgradeRefusal refusal);

    Hooks hooks_;
    State state_ = State::Idle;
    UpgradeOffer offer_;
    std::set<std::string> refused_; // release addresses not to fetch again
};

} // namespace vandry
