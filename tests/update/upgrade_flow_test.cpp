#include <gtest/gtest.h>

#include "update/upgrade_flow.h"

using namespace vandry;

namespace {
class UpgradeFlowTest : public ::testing::Test {
protected:
    UpgradeFlow make(bool withPrompt)
    {
        UpgradeFlow::Hooks hooks;
        hooks.replaceBlock = [this] { return block; };
        if (withPrompt)
            hooks.openPrompt = [this](const UpgradeOffer&, PromptMode mode) { prompts.push_back(mode); };
        hooks.startDownload = [this](const UpgradeOffer& offer) { downloads.push_back(offer.fileUrl); };
        hooks.cancelDownload = [this] { ++cancels; };
        hooks.showOutcome = [this](UpgradeRefusal refusal) { outcomes.push_back(refusal); };
        hooks.startHandOver = [this](const std::filesystem::path& file, std::uint32_t) {
            handOvers.push_back(file);
            return handOverStarts;
        };
        hooks.quit = [this] { ++quits; };
        hooks.log = [this](const std::string& line) { log.push_back(line); };
        return UpgradeFlow(std::move(hooks));
    }
    static UpgradeOffer offer(bool automatic, std::string url = "http://feed/vandry")
    {
        UpgradeOffer o;
        o.fileUrl = std::move(url);
        o.automatic = automatic;
        return o;
    }

    ReplaceBlock block = ReplaceBlock::None;
    bool handOverStarts = true;
    std::vector<PromptMode> prompts;
    std::vector<std::string> downloads;
    std::vector<UpgradeRefusal> outcomes;
    std::vector<std::filesystem::path> handOvers;
    std::vector<std::string> log;
    int cancels = 0;
    int quits = 0;
};
} // namespace

TEST_F(UpgradeFlowTest, WithNobodyToAskOnlyAutomaticOffersAreFetched)
{
    auto flow = make(false);
    flow.offer(offer(false));
    EXPECT_TRUE(downloads.empty());
    EXPECT_EQ(flow.state(), UpgradeFlow::State::Idle);
    flow.offer(offer(true));
    EXPECT_EQ(downloads.size(), 1u);
    flow.downloadFinished(UpgradeRefusal::None, "/state/UpFile1.EXE");
    EXPECT_EQ(handOvers, std::vector<std::filesystem::path>{"/state/UpFile1.EXE"});
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(flow.state(), UpgradeFlow::State::HandingOver);
    flow.offer(offer(true));
    EXPECT_EQ(downloads.size(), 1u);
}

TEST_F(UpgradeFlowTest, AnExecutableThatCannotBeReplacedIsSaidSoAndNothingIsFetched)
{
    block = ReplaceBlock::PackageManaged;
    auto flow = make(true);
    flow.offer(offer(true));
    EXPECT_EQ(prompts, std::vector{PromptMode::NotReplaceable});
    flow.consent();
    EXPECT_TRUE(downloads.empty());
    EXPECT_NE(log.back().find("cannot be replaced"), std::string::npos);
    flow.promptClosed();
    flow.offer(offer(true));
    EXPECT_EQ(prompts.size(), 1u); // not asked again for the same release
}

TEST_F(UpgradeFlowTest, TheUserConsentsThenARefusalIsShownLoggedAndNotFetchedAgain)
{
    auto flow = make(true);
    flow.offer(offer(false));
    EXPECT_EQ(prompts, std::vector{PromptMode::Ask});
    EXPECT_TRUE(downloads.empty());
    flow.offer(offer(false, "http://other/"));
    EXPECT_EQ(prompts.size(), 1u);
    flow.consent();
    EXPECT_EQ(downloads.size(), 1u);
    flow.downloadFinished(UpgradeRefusal::BadSignature, {});
    EXPECT_EQ(outcomes, std::vector{UpgradeRefusal::BadSignature});
    EXPECT_EQ(log.back(), "Upgrade refused: the release's signature is not valid (http://feed/vandry)");
    EXPECT_TRUE(handOvers.empty());
    flow.promptClosed();
    flow.offer(offer(false));
    EXPECT_EQ(prompts.size(), 1u);
    flow.offer(offer(false, "http://other/"));
    EXPECT_EQ(prompts.size(), 2u);
}

TEST_F(UpgradeFlowTest, AFailedFetchMayBeTriedAgainAtTheNextOffer)
{
    auto flow = make(false);
    flow.offer(offer(true));
    flow.downloadFinished(UpgradeRefusal::DownloadFailed, {});
    flow.offer(offer(true));
    EXPECT_EQ(downloads.size(), 2u);
}

TEST_F(UpgradeFlowTest, ClosingThePromptDuringTheDownloadCancelsItBeforeTheNextOffer)
{
    auto flow = make(true);
    flow.offer(offer(true));
    EXPECT_EQ(prompts, std::vector{PromptMode::Automatic});
    flow.promptClosed();
    EXPECT_EQ(cancels, 1);
    flow.offer(offer(true));
    EXPECT_EQ(downloads.size(), 1u); // the cancelled download has not reported yet
    flow.downloadFinished(UpgradeRefusal::Cancelled, {});
    EXPECT_TRUE(handOvers.empty());
    flow.offer(offer(true));
    EXPECT_EQ(downloads.size(), 2u);
}

TEST_F(UpgradeFlowTest, AReleaseThatDoesNotStartLeavesTheCopyRunning)
{
    handOverStarts = false;
    auto flow = make(true);
    flow.offer(offer(true));
    flow.downloadFinished(UpgradeRefusal::None, "/state/UpFile2.EXE");
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(outcomes, std::vector{UpgradeRefusal::CannotStart});
}
