#pragma once
// The program's one window: caption "Vandry v0.9", the menu with help, about and exit, and
// the settings and about buttons. The lists join it as their subsystems arrive.

#include <QWidget>

namespace vandry {

class CopyRuntime;

// Command ids of the menu entries, as the tray menu and shortcuts also use them.
enum class WindowCommand { Exit = 32772, Help = 32774, About = 32775 };

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(CopyRuntime& runtime, QWidget* parent = nullptr);

    void runCommand(WindowCommand command);
    // Opens the settings dialog modally; returns whether it was applied.
    bool openSettings();
    // A second start asked this copy to show itself.
    void bringToFront();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CopyRuntime& runtime_;
    bool stopping_ = false;
};

} // namespace vandry
