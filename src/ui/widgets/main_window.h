#pragma once
// The program's one window: the neighbour list, the file tree, the task list, the search box,
// the settings, about and announce buttons, and the menu with help, about and exit.

#include <QWidget>

#include "ui/main_window_model.h"
#include "ui/window_layout.h"

class QLineEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vandry {

class CopyRuntime;
class ListCommands;
class StatusStrip;
class TrayIcon;

// Command ids of the menu entries, as the tray menu and shortcuts also use them.
enum class WindowCommand { Exit = 32772, Help = 32774, About = 32775 };

class MainWindow : public QWidget, public MainWindowView {
    Q_OBJECT
public:
    explicit MainWindow(CopyRuntime& runtime, QWidget* parent = nullptr);
    ~MainWindow() override;

    void runCommand(WindowCommand command);
    // Opens the settings dialog modally; returns whether it was applied.
    bool openSettings();
    // A second start asked this copy to show itself.
    void bringToFront();

    QTreeWidget* neighbourList() const { return neighbourList_; }
    QTreeWidget* fileList() const { return fileList_; }
    QTreeWidget* taskList() const { return taskList_; }

    // MainWindowView
    void neighboursChanged() override;
    void loggingChanged(bool on) override;
    void tasksChanged() override;
    void filesChanged() override;
    void statusChanged() override;
    void taskEnded(const std::string& name, bool finished, const std::string& reason) override;
    void showLocalFileError(const std::string& path, const std::string& reason) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createControls();
    void createMenu();
    void saveTemplateRects();
    void placeControls();
    void restoreWindowState();
    // Into the notification area, when the desktop has one; false when it has none.
    bool hideToTray();
    void saveWindowState();
    void showTaskRow(QTreeWidgetItem* item, const TaskRow& row, const TaskFigures* figures);
    QWidget* control(LayoutControl which) const;

    CopyRuntime& runtime_;
    QTreeWidget* neighbourList_ = nullptr;
    QTreeWidget* fileList_ = nullptr;
    QTreeWidget* taskList_ = nullptr;
    StatusStrip* statusStrip_ = nullptr;
    TrayIcon* tray_ = nullptr;
    QLineEdit* searchBox_ = nullptr;
    QPushButton* settingsButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    QPushButton* announceButton_ = nullptr;
    QPushButton* linkDumpButton_ = nullptr;
    QToolButton* menuButton_ = nullptr;
    ListCommands* lists_ = nullptr;
    ControlRects templateRects_{};
    QSize templateSize_;
    bool stopping_ = false;
};

} // namespace vandry
