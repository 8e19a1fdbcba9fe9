#pragma once
// "任务属性": one task in detail while it runs: its file, size and digest; one row per link
// receiving the file with its source, a block bar, its rate and file; and for a folder task the
// tree of its files with their states. "发起下载" and "全部停止" resume and stop the task, a
// right click on a link row closes that link, "X" opens the task's sources. Refreshed every
// second from the command layer.

#include <QDialog>
#include <QHash>
#include <functional>

#include "tasks/task_properties.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace vandry {

struct TaskPropertyActions {
    std::function<TaskProperties()> snapshot; // nothing (a default) once the task is gone
    std::function<void()> resume;
    std::function<void()> stop;
    std::function<void(std::uint8_t)> closeLink;
    std::function<void()> showSources;
};

class TaskPropertyDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 1000;
    // The folder list's share of the dialog's height.
    static constexpr int kFolderListHeight = 200;

    TaskPropertyDialog(bool isDirectory, TaskPropertyActions actions, QWidget* parent = nullptr);

    void refresh();

    // For tests.
    QTreeWidget* linkList() const { return links_; }
    QTreeWidget* folderList() const { return folders_; }
    QCheckBox* folderToggle() const { return showFolders_; }
    QLabel* fileText() const { return file_; }
    QLabel* sizeText() const { return size_; }
    QLabel* digestText() const { return digest_; }

private:
    void refreshLinks(const TaskProperties& properties);
    void refreshFolders(const TaskProperties& properties);
    void toggleFolders(bool shown);
    void linkMenuRequested(const QPoint& at);

    TaskPropertyActions actions_;
    QLabel* file_;
    QLabel* size_;
    QLabel* digest_;
    QTreeWidget* links_;
    QTreeWidget* folders_;
    QCheckBox* showFolders_;
    QTimer* timer_;
    // The folder list's items by folder, and by folder and file name.
    QHash<QString, QTreeWidgetItem*> folderItems_;
    QHash<QString, QTreeWidgetItem*> fileItems_;
    QString expandedFolder_;
};

} // namespace vandry
