#pragma once
// The icon in the desktop's notification area while the window is hidden: its menu ("显示",
// "帮助", "关于", "退出"; a double click runs the default entry, "显示") and the desktop
// notifications of finished and failed downloads.

#include <QObject>
#include <QSystemTrayIcon>

class QMenu;

namespace vandry {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(const QIcon& icon, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop has a notification area to hide the window to.
    static bool available();
    void setVisible(bool on);
    bool isVisible() const { return icon_.isVisible(); }
    // A desktop notification; a click on it asks for the window.
    void notify(const QString& title, const QString& text);

    QMenu* menu() const { return menu_; }
    QSystemTrayIcon& icon() { return icon_; }

signals:
    void showRequested();
    void helpRequested();
    void aboutRequested();
    void exitRequested();

private:
    QSystemTrayIcon icon_;
    QMenu* menu_;
};

} // namespace vandry
