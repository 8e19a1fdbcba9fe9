#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "ui/widgets/seeding_dialog.h"

using namespace vandry;

namespace {
HostIdentity host(std::uint8_t n)
{
    return {n, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, n};
}

QString guid(std::uint8_t n)
{
    return QString::fromStdString(identityText(host(n)));
}

struct SeedingDialogTest : ::testing::Test {
    SeedingDialogTest()
    {
        key.digest[0] = 0xAB;
        key.sizeLow = 123456;
        HostRecord alice;
        alice.identity = host(1);
        alice.lanPrimary = 0xC0A80001;
        alice.setNickname("alice");
        neighbours.merge(std::span(&alice, 1), 0);
        seeds.addSource(true, key, host(1), "\\a.iso");
        seeds.addSource(false, key, host(2), "");
        seeds.addSource(true, key, host(3), "\\a.iso");
    }
    QStringList column(const SeedingDialog& dialog, int column)
    {
        QStringList texts;
        for (int i = 0; i < dialog.sourceList()->topLevelItemCount(); ++i)
            texts << dialog.sourceList()->topLevelItem(i)->text(column);
        return texts;
    }

    ManualClock clock;
    NeighbourTable neighbours{clock, HostRecord{}};
    SeedTable seeds{clock};
    SourceInfo key;
};
} // namespace

TEST_F(SeedingDialogTest, OpensWithOneRowPerSourceAndTheFileTexts)
{
    SeedingDialog dialog(seeds, neighbours, clock, key);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("SEEDING"));
    QTreeWidget* list = dialog.sourceList();
    ASSERT_EQ(list->columnCount(), 6);
    EXPECT_EQ(list->headerItem()->text(5), QStringLiteral("Invke"));
    EXPECT_EQ(list->columnWidth(1), 230);
    EXPECT_EQ(column(dialog, 1), (QStringList{guid(1), guid(2), guid(3)}));
    EXPECT_EQ(column(dialog, 0), (QStringList{"", "", ""}));
    EXPECT_EQ(column(dialog, 2), (QStringList{"alice", "", ""}));
    EXPECT_EQ(column(dialog, 3), (QStringList{"2:SEED_FLAG_READY", "8:SEED_FLAG_BAD", "2:SEED_FLAG_READY"}));
    EXPECT_EQ(column(dialog, 5), (QStringList{"1", "", "1"}));
    EXPECT_EQ(dialog.sizeText()->text(), QStringLiteral("123456"));
    EXPECT_EQ(dialog.digestText()->text(), QStringLiteral("ab000000000000000000000000000000"));
    EXPECT_EQ(dialog.refreshText()->text(), QString::number(clock.nowSeconds()) + "/120");
    EXPECT_EQ(dialog.refreshTimer()->interval(), 1200);
    EXPECT_TRUE(dialog.refreshTimer()->isActive());
}

TEST_F(SeedingDialogTest, RefreshUpdatesRowsInPlaceAppendsNewSourcesAndDropsGoneOnes)
{
    SeedingDialog dialog(seeds, neighbours, clock, key);
    QTreeWidgetItem* first = dialog.sourceList()->topLevelItem(0);
    clock.advanceSeconds(65);
    seeds.setSourceState(key, host(1), SEED_FLAG_SUSPEND);
    seeds.addSource(true, key, host(4), "\\a.iso");
    dialog.refresh();
    EXPECT_EQ(dialog.sourceList()->topLevelItem(0), first);
    EXPECT_EQ(column(dialog, 1), (QStringList{guid(1), guid(2), guid(3), guid(4)}));
    EXPECT_EQ(column(dialog, 3)[0], QStringLiteral("4:SEED_FLAG_SUSPEND"));
    EXPECT_EQ(column(dialog, 4), (QStringList{"0", "1m5", "1m5", "0"}));
    EXPECT_EQ(column(dialog, 5)[0], QStringLiteral("2m0"));
    EXPECT_EQ(column(dialog, 0), (QStringList{"", "", "", ""}));

    // A user renamed a row's key with braces: it is still the same source's row.
    first->setText(1, "{" + guid(1) + "}");
    dialog.refresh();
    EXPECT_EQ(dialog.sourceList()->topLevelItemCount(), 4);

    seeds.dropSlot(key);
    dialog.refresh();
    EXPECT_EQ(dialog.sourceList()->topLevelItemCount(), 0);
}

TEST_F(SeedingDialogTest, ResetButtonDatesBadSourcesBackTenMinutes)
{
    SeedingDialog dialog(seeds, neighbours, clock, key);
    dialog.resetButton()->click();
    dialog.refresh();
    EXPECT_EQ(column(dialog, 4), (QStringList{"0", "10m0", "0"}));
}
