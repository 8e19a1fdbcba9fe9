#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "ui/widgets/upgrade_dialogs.h"

using namespace vandry;

namespace {
UpgradeOffer offer(bool automatic)
{
    UpgradeOffer o;
    o.pageUrl = "http://maker.example/new.html";
    o.fileUrl = "http://maker.example/vandry";
    o.automatic = automatic;
    return o;
}
} // namespace

TEST(UpgradePrompt, AsksWithItsLinkAndClosesItselfWhenTheTimeLimitRunsOut)
{
    UpgradePromptDialog dialog(offer(false), PromptMode::Ask);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("新版本升级提示"));
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dialog.link()->text().contains(QStringLiteral("检测到有新版本,现在开始自动下载并升级吗？")));
    EXPECT_TRUE(dialog.link()->text().contains(QStringLiteral("href=\"http://maker.example/new.html\"")));
    EXPECT_EQ(dialog.upgradeButton()->text(), QStringLiteral("升级"));
    EXPECT_TRUE(dialog.upgradeButton()->isEnabled());
    EXPECT_TRUE(dialog.timeLimit().isActive());
    EXPECT_EQ(dialog.timeLimit().interval(), 300000);
    dialog.show();
    dialog.timeLimitReached();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(UpgradePrompt, AutomaticDownloadDisablesTheButtonAndOutlastsTheTimeLimit)
{
    UpgradePromptDialog dialog(offer(true), PromptMode::Automatic);
    EXPECT_TRUE(dialog.link()->text().contains(QStringLiteral("检测到新版本,正在下载升级，请稍等...")));
    EXPECT_FALSE(dialog.upgradeButton()->isEnabled());
    dialog.show();
    dialog.showProgress(3 << 20, 4 << 20);
    EXPECT_NEAR(double(dialog.progressBar()->value()) / dialog.progressBar()->maximum(), 0.75, 0.01);
    dialog.timeLimitReached();
    EXPECT_TRUE(dialog.isVisible());
    dialog.showOutcome(UpgradeRefusal::HashMismatch);
    EXPECT_EQ(dialog.message()->text().toStdString(), upgradeRefusalPromptText(UpgradeRefusal::HashMismatch));
    dialog.timeLimitReached();
    EXPECT_FALSE(dialog.isVisible());
}

TEST(UpgradePrompt, SaysWhenTheExecutableCannotBeReplaced)
{
    UpgradePromptDialog dialog(offer(true), PromptMode::NotReplaceable);
    EXPECT_FALSE(dialog.upgradeButton()->isEnabled());
    EXPECT_FALSE(dialog.message()->isHidden());
    EXPECT_TRUE(dialog.message()->text().contains(QStringLiteral("软件包管理器")));
}

TEST(UpgradePrompt, TheButtonStartsTheFlowsDownloadAndClosingCancelsIt)
{
    std::vector<std::string> downloads;
    int cancels = 0;
    UpgradeFlow::Hooks hooks;
    hooks.replaceBlock = [] { return ReplaceBlock::None; };
    UpgradePrompts prompts;
    UpgradeFlow* flowPointer = nullptr;
    hooks.openPrompt = [&](const UpgradeOffer& o, PromptMode mode) {
        prompts.openUpgradePrompt(o, mode, *flowPointer);
    };
    hooks.startDownload = [&](const UpgradeOffer& o) { downloads.push_back(o.fileUrl); };
    hooks.cancelDownload = [&] { ++cancels; };
    hooks.log = [](const std::string&) {};
    UpgradeFlow flow(std::move(hooks));
    flowPointer = &flow;

    flow.offer(offer(false));
    ASSERT_NE(prompts.dialog(), nullptr);
    EXPECT_TRUE(downloads.empty());
    prompts.dialog()->upgradeButton()->click();
    EXPECT_EQ(downloads, std::vector<std::string>{"http://maker.example/vandry"});
    EXPECT_FALSE(prompts.dialog()->upgradeButton()->isEnabled());
    prompts.dialog()->reject();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(flow.state(), UpgradeFlow::State::Cancelling);
}
