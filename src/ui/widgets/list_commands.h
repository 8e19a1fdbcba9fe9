#pragma once
// What clicks in the window's three lists and Enter in the search box do: the file list's
// popup menu and double click (download, download as, browse), the task list's menu and double
// click, a double click on a neighbour, and the search.

#include <QObject>
#include <cstddef>
#include <functional>
#include <optional>

#include "ui/file_list.h"
#include "ui/widgets/file_tree_mirror.h"
#include "ui/widgets/match_highlight_delegate.h"
#include "ui/widgets/window_menus.h"

class QLineEdit;
class QPoint;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace vandry {

class CopyRuntime;

struct WindowLists {
    QTreeWidget* neighbours = nullptr;
    QTreeWidget* files = nullptr;
    QTreeWidget* tasks = nullptr;
    QLineEdit* searchBox = nullptr;
};

class ListCommands : public QObject {
    Q_OBJECT
public:
    // `window` owns the lists and parents the dialogs; `help` opens the help page.
    ListCommands(CopyRuntime& runtime, QWidget* window, const WindowLists& lists, std::function<void()> help);

    // The model's file list changed.
    void filesChanged();

private:
    void fileMenuRequested(const QPoint& at);
    void fileDoubleClicked(QTreeWidgetItem* item);
    void taskMenuRequested(const QPoint& at);
    void taskDoubleClicked(QTreeWidgetItem* item);
    void showTaskProperties(std::size_t row);
    void neighbourDoubleClicked(QTreeWidgetItem* item);
    void search();

    // Computes the selection for a tree item; false when it shows no file-list item.
    bool select(QTreeWidgetItem* item);
    void download();
    // Enter browses a neighbour, opens a folder, downloads a file; Shift+F10 and the menu key
    // open the current item's menu.
    void addKeyboardCommands();
    void fileEntered();
    std::optional<std::size_t> taskRow(const QTreeWidgetItem* item) const;
    // A file of the download's name is there already: the user says what to do. False: cancelled.
    bool settleNameClash();
    void downloadAs();
    void runTaskCommand(MenuCommand command, std::size_t row);

    CopyRuntime& runtime_;
    QWidget* window_;
    WindowLists lists_;
    std::function<void()> help_;
    FileTreeMirror mirror_;
    MatchHighlightDelegate* highlight_ = nullptr; // owned by the file list
    FileSelection selection_;
};

} // namespace vandry
