#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QTreeWidget>

#include "store/listing_record.h"
#include "ui/widgets/block_bar.h"
#include "ui/widgets/task_property_dialog.h"

using namespace vandry;

namespace {

struct TaskPropertyDialogTest : ::testing::Test {
    TaskPropertyActions actions()
    {
        TaskPropertyActions a;
        a.snapshot = [this] { return properties; };
        a.resume = [this] { ++resumed; };
        a.stop = [this] { ++stopped; };
        a.closeLink = [this](std::uint8_t slot) { closed.push_back(slot); };
        a.showSources = [] {};
        return a;
    }
    QStringList column(QTreeWidgetItem* parent, int column) const
    {
        QStringList texts;
        for (int i = 0; i < parent->childCount(); ++i)
            texts << parent->child(i)->text(column);
        return texts;
    }
    TaskProperties properties;
    int resumed = 0, stopped = 0;
    std::vector<std::uint8_t> closed;
};

TEST_F(TaskPropertyDialogTest, AFileTaskShowsItsLinksAndRightClickClosesOne)
{
    properties.file = "/downloads/film.mkv";
    properties.size = 4096 * 1024;
    properties.digest = "00112233445566778899aabbccddeeff";
    properties.blockCount = 4096;
    properties.held = {{0, 1000}};
    properties.links = {{7, "alice", 1000, 3000, 1500, 512, "film.mkv", "TCP 198.18.0.7:1553"},
                        {9, "bob", 3000, 4096, 3000, 0, "film.mkv", "datagram 198.18.0.9:1552"}};
    TaskPropertyDialog dialog(false, actions());
    EXPECT_FALSE(dialog.folderToggle()->isEnabled());
    EXPECT_TRUE(dialog.folderList()->isHidden());
    EXPECT_EQ(dialog.sizeText()->text(), QStringLiteral("4194304"));
    QTreeWidget* links = dialog.linkList();
    ASSERT_EQ(links->topLevelItemCount(), 2);
    QTreeWidgetItem* alice = links->topLevelItem(0);
    EXPECT_EQ(alice->text(1), QStringLiteral("alice"));
    EXPECT_EQ(alice->text(3), QStringLiteral("512K/s"));
    const auto* bar = static_cast<BlockBar*>(links->itemWidget(alice, 2));
    EXPECT_EQ(bar->layers().range, (BlockRange{1000, 3000}));
    EXPECT_EQ(bar->layers().pending, (BlockRange{1500, 3000}));

    emit links->customContextMenuRequested(links->visualItemRect(alice).center());
    EXPECT_EQ(closed, std::vector<std::uint8_t>{7});
    properties.links.erase(properties.links.begin());
    dialog.refresh();
    ASSERT_EQ(links->topLevelItemCount(), 1);
    EXPECT_EQ(links->topLevelItem(0)->text(0), QStringLiteral("9"));
}

TEST_F(TaskPropertyDialogTest, AFolderTaskListsItsFilesWithTheirStatesAndOpensTheFolderAtWork)
{
    properties.isDirectory = true;
    properties.folders = {
        {"\\album\\", {{"a.bin", 10, FolderFileState::Finished}}},
        {"\\album\\cd1\\", {{"b.bin", 20, FolderFileState::Transferring}, {"c.bin", 30, FolderFileState::Waiting}}}};
    TaskPropertyDialog dialog(true, actions());
    QTreeWidget* folders = dialog.folderList();
    ASSERT_EQ(folders->topLevelItemCount(), 2);
    EXPECT_EQ(column(folders->topLevelItem(1), 1), (QStringList{"正在传输", "队列等待"}));
    EXPECT_TRUE(folders->topLevelItem(1)->isExpanded());
    EXPECT_FALSE(folders->topLevelItem(0)->isExpanded());

    properties.folders[1].files[0].state = FolderFileState::Finished;
    properties.folders[1].files[1].state = FolderFileState::Transferring;
    dialog.refresh();
    EXPECT_EQ(column(folders->topLevelItem(1), 1), (QStringList{"结束传输", "正在传输"}));

    const int height = dialog.height();
    dialog.folderToggle()->setChecked(false);
    EXPECT_TRUE(folders->isHidden());
    EXPECT_EQ(dialog.height(), height - TaskPropertyDialog::kFolderListHeight);
}

} // namespace
