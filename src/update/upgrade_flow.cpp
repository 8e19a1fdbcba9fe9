#include "update/upgrade_flow.h"

#include "common/text.h"

namespace vandry {

void UpgradeFlow::offer(const UpgradeOffer& offer)
{
    if (state_ != State::Idle || refused_.contains(offer.fileUrl))
        return;
    offer_ = offer;
    hooks_.log("A newer version is available: " + escapeControlCharacters(offer.fileUrl));
    if (const ReplaceBlock block = hooks_.replaceBlock(); block != ReplaceBlock::None) {
        hooks_.log("Upgrade not possible: the installed executable cannot be replaced, " + replaceBlockText(block));
        refused_.insert(offer.fileUrl);
        if (hooks_.openPrompt) {
            state_ = State::Finished;
            hooks_.openPrompt(offer, PromptMode::NotReplaceable);
        }
        return;
    }
    if (!hooks_.openPrompt) {
        if (offer.automatic)
            startDownload();
        return;
    }
    state_ = State::Prompting;
    hooks_.openPrompt(offer, offer.automatic ? PromptMode::Automatic : PromptMode::Ask);
    if (offer.automatic)
        startDownload();
}

void UpgradeFlow::consent()
{
    if (state_ == State::Prompting)
        startDownload();
}

void UpgradeFlow::promptClosed()
{
    switch (state_) {
    case State::Downloading:
        // Idle once the download reports that it stopped, so that its report is not taken for
        // the next one's.
        state_ = State::Cancelling;
        hooks_.cancelDownload();
        break;
    case State::Prompting:
    case State::Finished:
        state_ = State::Idle;
        break;
    case State::Idle:
    case State::Cancelling:
    case State::HandingOver:
        break;
    }
}

void UpgradeFlow::downloadFinished(UpgradeRefusal refusal, const std::filesystem::path& file)
{
    if (state_ == State::Cancelling) {
        hooks_.log("Upgrade cancelled: " + escapeControlCharacters(offer_.fileUrl));
        state_ = State::Idle;
        return;
    }
    if (state_ != State::Downloading)
        return;
    if (refusal != UpgradeRefusal::None) {
        refuse(refusal);
        return;
    }
    hooks_.log("Upgrade verified: handing over to " + escapeControlCharacters(file.string()));
    if (!hooks_.startHandOver(file, offer_.version)) {
        refuse(UpgradeRefusal::CannotStart);
        return;
    }
    state_ = State::HandingOver;
    if (hooks_.showOutcome)
        hooks_.showOutcome(UpgradeRefusal::None);
    hooks_.quit();
}

void UpgradeFlow::startDownload()
{
    state_ = State::Downloading;
    hooks_.log("Downloading the upgrade from " + escapeControlCharacters(offer_.fileUrl));
    hooks_.startDownload(offer_);
}

void UpgradeFlow::refuse(UpgradeRefusal refusal)
{
    hooks_.log("Upgrade refused: " + upgradeRefusalLogText(refusal) + " (" + escapeControlCharacters(offer_.fileUrl) +
               ")");
    // A failed fetch may work at the next offer; a release that failed its checks stays refused.
    if (refusal != UpgradeRefusal::Cancelled && refusal != UpgradeRefusal::DownloadFailed)
        refused_.insert(offer_.fileUrl);
    if (hooks_.openPrompt) {
        state_ = State::Finished;
        if (hooks_.showOutcome)
            hooks_.showOutcome(refusal);
    } else {
        state_ = State::Idle;
    }
}

} // namespace vandry
