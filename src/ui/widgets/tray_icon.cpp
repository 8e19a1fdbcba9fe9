#include "ui/widgets/tray_icon.h"

#include <QMenu>

namespace vandry {

TrayIcon::TrayIcon(const QIcon& icon, QObject* parent) : QObject(parent), icon_(icon), menu_(new QMenu)
{
    icon_.setToolTip(QStringLiteral("Vandry"));
    // The texts after the tab are labels only, as the menu has always shown them.
    QAction* show = menu_->addAction(QStringLiteral("显示\tCtrl+S"), this, &TrayIcon::showRequested);
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("帮助\tCtrl+H"), this, &TrayIcon::helpRequested);
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("关于\tCtrl+A"), this, &TrayIcon::aboutRequested);
    menu_->addSeparator();
    menu_->addAction(QStringLiteral("退出\tCtrl+X"), this, &TrayIcon::exitRequested);
    menu_->setDefaultAction(show);
    icon_.setContextMenu(menu_);
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick && menu_->defaultAction())
            menu_->defaultAction()->trigger();
    });
    connect(&icon_, &QSystemTrayIcon::messageClicked, this, &TrayIcon::showRequested);
}

TrayIcon::~TrayIcon()
{
    delete menu_;
}

bool TrayIcon::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setVisible(bool on)
{
    icon_.setVisible(on);
}

void TrayIcon::notify(const QString& title, const QString& text)
{
    icon_.showMessage(title, text, icon_.icon());
}

} // namespace vandry
