#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

#include "fake_copy.h"
#include "fake_window_host.h"
#include "file_list_payloads.h"
#include "store/share_hash_table.h"
#include "ui/main_window_model.h"
#include "ui/widgets/delete_task_dialog.h"
#include "ui/widgets/file_tree_mirror.h"
#include "ui/widgets/list_columns.h"
#include "ui/widgets/window_menus.h"

using namespace vandry;
using namespace vandry::testing;

namespace {
// The window's part in this: mirror the model's file list into the tree whenever it changes.
struct MirroringView final : MainWindowView {
    MirroringView(const MainWindowModel& model, QTreeWidget* tree) : model(model), mirror(tree) {}
    void neighboursChanged() override {}
    void loggingChanged(bool) override {}
    void tasksChanged() override {}
    void showLocalFileError(const std::string&, const std::string&) override {}
    void filesChanged() override
    {
        ++changes;
        mirror.update(model.files());
    }
    const MainWindowModel& model;
    FileTreeMirror mirror;
    int changes = 0;
};

struct FileListWindowTest : ::testing::Test {
    FileListWindowTest()
    {
        applyColumns(&tree, fileColumns());
        model.setView(&view);
    }
    void listing(const std::vector<std::uint8_t>& payload) { model.listingReplyArrived(payload); }
    void answer(const std::vector<std::uint8_t>& payload) { model.queryReplyArrived(payload, Endpoint{}); }

    FakeCopy fake;
    EventLog log;
    FakeWindowHost host;
    NoFileInfo noFileInfo;
    ShareHashTable hashes{noFileInfo, [] { return std::string(); }};
    MainWindowModel model{fake.copy, log, host, hashes};
    QTreeWidget tree;
    MirroringView view{model, &tree};
    HostRecord alice = fileHost("alice", 0xA1);
};

QStringList texts(const QTreeWidgetItem* item)
{
    QStringList out;
    for (int c = 0; c < 4; ++c)
        out << item->text(c);
    return out;
}

QStringList childNames(const QTreeWidgetItem* item)
{
    QStringList out;
    for (int i = 0; i < item->childCount(); ++i)
        out << item->child(i)->text(0);
    return out;
}

QStringList entries(const QMenu& menu)
{
    QStringList out;
    for (const QAction* action : menu.actions())
        out << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return out;
}
} // namespace

TEST_F(FileListWindowTest, BrowseListingsShowInTheTreeUnderTheirItems)
{
    listing(browseReply(-1, alice, "\\", {listingFolder("docs"), listingFile("a.txt", 2048, 1)}));
    EXPECT_EQ(view.changes, 1);
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* top = tree.topLevelItem(0);
    EXPECT_EQ(texts(top), (QStringList{"\\", "", "\\", QString::fromStdString(hostRecordHex(alice))}));
    EXPECT_TRUE(top->isExpanded());
    EXPECT_EQ(childNames(top), (QStringList{"a.txt", "docs"}));
    EXPECT_EQ(top->child(0)->text(1), "2.0 KB");

    // The listing of docs goes under the item the request named; the items already shown stay.
    QTreeWidgetItem* docs = top->child(1);
    listing(browseReply(FileTreeMirror::itemId(docs), alice, "\\docs\\", {listingFile("音乐.mp3", 10, 1)}));
    ASSERT_EQ(tree.topLevelItem(0), top);
    ASSERT_EQ(top->child(1), docs);
    EXPECT_EQ(childNames(docs), (QStringList{"音乐.mp3"}));
    EXPECT_TRUE(docs->isExpanded());

    // A malformed reply changes nothing and is not shown.
    listing({1, 2, 3});
    EXPECT_EQ(view.changes, 2);
}

TEST_F(FileListWindowTest, SearchAnswerAddsARootAndFoldersTheUserClosedStayClosed)
{
    const auto bob =
        searchAnswer(16, fileHost("bob", 0xB2), {{"share", -1, 0, kMarkAncestor}, {"music", 0, 2, kMarkMatched}},
                     {{"song.mp3", 1, 5000}});
    answer(bob);
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree.topLevelItem(0);
    EXPECT_EQ(texts(root), (QStringList{"bob", "", "", ""}));
    EXPECT_TRUE(root->isExpanded());
    ASSERT_EQ(childNames(root), (QStringList{"share/music"})); // where in bob's share it was found
    QTreeWidgetItem* music = root->child(0);
    EXPECT_EQ(childNames(music), (QStringList{"song.mp3", "......"}));
    EXPECT_TRUE(music->isExpanded());            // byte 3 is 16
    EXPECT_EQ(music->text(2), "\\share\\music"); // shorter than 16 characters: kept whole
    music->setExpanded(false);

    answer(searchAnswer(0, alice, {{"video", -1, 0, kMarkMatched}}, {}));
    ASSERT_EQ(tree.topLevelItemCount(), 2);
    EXPECT_EQ(tree.topLevelItem(1)->text(0), "alice");
    EXPECT_EQ(tree.topLevelItem(0), root);
    EXPECT_FALSE(music->isExpanded());
}

TEST(WindowMenus, FilePopupOffersDownloadsOnlyWhenTheHostIsKnown)
{
    QMenu popup;
    fillFilePopup(popup, true);
    EXPECT_EQ(popup.title(), "POPUP");
    EXPECT_EQ(entries(popup), (QStringList{"下载", "下载另存...", "-", "使用帮助"}));
    EXPECT_EQ(menuCommand(popup.actions()[1]), 32771);
    QMenu rdr;
    fillFilePopup(rdr, false);
    EXPECT_EQ(rdr.title(), "RDR");
    EXPECT_EQ(entries(rdr), (QStringList{"查看共享", "-", "使用帮助"}));
    EXPECT_EQ(menuCommand(rdr.actions()[0]), 32773);
    EXPECT_EQ(menuCommand(rdr.actions()[2]), 32774);
    EXPECT_EQ(menuCommand(nullptr), -1);
}

TEST(WindowMenus, TaskMenuShowsUdpDownloadOnlyWhileLogging)
{
    QMenu quiet;
    fillTaskMenu(quiet, false);
    EXPECT_EQ(entries(quiet), (QStringList{"查看来源", "-", "打开文件", "目录位置", "-", "删除任务", "-", "停止下载",
                                           "继续下载", "-", "任务属性"}));
    QMenu logging;
    fillTaskMenu(logging, true);
    EXPECT_EQ(entries(logging), (QStringList{"查看来源", "-", "打开文件", "目录位置", "-", "删除任务", "-", "停止下载",
                                             "继续下载", "UDP 下载", "-", "任务属性"}));
    EXPECT_EQ(menuCommand(logging.actions()[9]), 32838);
    EXPECT_EQ(menuCommand(logging.actions()[11]), 32836);
}

TEST(DeleteTaskDialog, AsksWithTheBoxClearAndReportsATick)
{
    DeleteTaskDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "删除任务");
    EXPECT_EQ(dialog.question()->text(), "确认要删除该任务记录吗？");
    EXPECT_EQ(dialog.deleteFilesBox()->text(), "同时删除文件");
    EXPECT_FALSE(dialog.deleteFiles());
    QStringList buttons;
    for (const QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons())
        buttons << button->text();
    EXPECT_EQ(buttons, (QStringList{"OK", "Cancel"}));

    dialog.show();
    dialog.deleteFilesBox()->click();
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.deleteFiles());
}

TEST_F(FileListWindowTest, ANeighbourThatDoesNotAnswerLeavesANoticeAndIsMarkedUntilItAnswers)
{
    const HostRecord bob = fileHost("bob", 0xB0);
    fake.copy.neighbours().merge(std::vector{alice, bob}, 0);
    const auto neighbour = [&](const HostRecord& host) {
        return fake.copy.neighbours().at(*fake.copy.neighbours().find(host.identity, false));
    };
    const auto silent = [&](const std::string& nickname) {
        model.neighboursArrived();
        for (const NeighbourRow& row : model.neighbourRows())
            if (row.nickname == nickname)
                return row.silent;
        return false;
    };
    listing(browseReply(-1, alice, "\\", {listingFile("a.txt", 2048, 1)}));

    // Browsing bob takes alice's files away at once.
    model.browse(neighbour(bob), "\\", -1);
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(FileTreeMirror::itemId(tree.topLevelItem(0)), -1);
    EXPECT_EQ(tree.topLevelItem(0)->text(0), QStringLiteral("正在读取“bob”的共享目录……"));
    for (std::uint32_t i = 1; i < MainWindowModel::kBrowseAnswerTicks; ++i)
        model.tick();
    EXPECT_FALSE(silent("bob"));
    model.tick();
    EXPECT_EQ(tree.topLevelItem(0)->text(0), QStringLiteral("邻居“bob”没有应答。"));
    EXPECT_TRUE(silent("bob"));
    EXPECT_FALSE(silent("alice"));

    // A folder of alice's that goes unanswered marks her but leaves the list as it is; her
    // listing clears the mark.
    model.browse(neighbour(alice), "\\", -1);
    listing(browseReply(-1, alice, "\\", {listingFolder("docs")}));
    const std::int32_t docs = FileTreeMirror::itemId(tree.topLevelItem(0)->child(0));
    model.browse(neighbour(alice), "\\docs\\", docs);
    for (std::uint32_t i = 0; i < MainWindowModel::kBrowseAnswerTicks; ++i)
        model.tick();
    EXPECT_TRUE(silent("alice"));
    EXPECT_EQ(childNames(tree.topLevelItem(0)), (QStringList{"docs"}));
    listing(browseReply(docs, alice, "\\docs\\", {listingFile("b.txt", 10, 1)}));
    EXPECT_FALSE(silent("alice"));
    EXPECT_TRUE(silent("bob"));
}

TEST_F(FileListWindowTest, SortedListsKeepFoldersFirstAndNamesInNaturalOrder)
{
    tree.setSortingEnabled(true);
    tree.sortByColumn(0, Qt::AscendingOrder);
    listing(browseReply(-1, alice, "\\",
                        {listingFile("track 10.mp3", 5000), listingFile("Track 2.mp3", 90000), listingFolder("photos"),
                         listingFile("a.txt", 20), listingFolder("Music", 1)}));
    QTreeWidgetItem* top = tree.topLevelItem(0);
    EXPECT_EQ(childNames(top), (QStringList{"Music", "photos", "a.txt", "Track 2.mp3", "track 10.mp3"}));
    tree.sortByColumn(0, Qt::DescendingOrder);
    EXPECT_EQ(childNames(top), (QStringList{"photos", "Music", "track 10.mp3", "Track 2.mp3", "a.txt"}));
    // Sizes sort by bytes, not by their texts ("88 KB" against "4.9 KB").
    tree.sortByColumn(1, Qt::AscendingOrder);
    EXPECT_EQ(childNames(top), (QStringList{"Music", "photos", "a.txt", "track 10.mp3", "Track 2.mp3"}));

    // A listing that arrives under a sorted folder finds its item and takes its place in order.
    QTreeWidgetItem* photos = top->child(1);
    listing(browseReply(FileTreeMirror::itemId(photos), alice, "\\photos\\",
                        {listingFile("b.jpg", 30), listingFile("a.jpg", 10, 1)}));
    EXPECT_EQ(childNames(photos), (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_EQ(top->child(1), photos);
}

TEST_F(FileListWindowTest, SearchSaysItIsSearchingThenWhatCameOrThatNothingDid)
{
    model.startSearch("zebra");
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(tree.topLevelItem(0)->text(0), QStringLiteral("正在搜索“zebra”……"));
    EXPECT_EQ(model.searchStatus(), "正在搜索“zebra”…… 0 个邻居已应答");
    for (std::uint32_t i = 0; i < MainWindowModel::kSearchAnswerTicks; ++i)
        model.tick();
    EXPECT_EQ(tree.topLevelItem(0)->text(0), QStringLiteral("没有找到“zebra”。"));
    EXPECT_EQ(model.searchStatus(), "没有找到“zebra”。");

    model.startSearch("song");
    answer(searchAnswer(0, alice, {{"music", -1, 1, kMarkMatched}}, {{"song.mp3", 0, 5000}}));
    EXPECT_EQ(model.searchStatus(), "正在搜索“song”…… 1 个邻居已应答");
    for (std::uint32_t i = 0; i < MainWindowModel::kSearchAnswerTicks; ++i)
        model.tick();
    EXPECT_EQ(model.searchStatus(), "“song”：1 个邻居有结果");
    EXPECT_EQ(tree.topLevelItem(0)->text(0), "alice");
    EXPECT_EQ(model.searchText(), "song");
    // A browse is no search: nothing is marked in a share.
    model.browse(fake.copy.neighbours().at(NeighbourTable::kLocalSlot), "\\", -1);
    EXPECT_EQ(model.searchText(), "");
}
