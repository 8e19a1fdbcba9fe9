#include <gtest/gtest.h>

#include <QMenu>

#include "ui/widgets/tray_icon.h"

using namespace vandry;

TEST(TrayIcon, MenuEntriesAndADoubleClickRunsTheDefaultEntry)
{
    TrayIcon tray{QIcon()};
    QStringList texts;
    for (const QAction* action : tray.menu()->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    EXPECT_EQ(texts, (QStringList{"显示\tCtrl+S", "-", "帮助\tCtrl+H", "-", "关于\tCtrl+A", "-", "退出\tCtrl+X"}));
    ASSERT_EQ(tray.menu()->defaultAction(), tray.menu()->actions()[0]);

    int shown = 0;
    int help = 0;
    QObject::connect(&tray, &TrayIcon::showRequested, [&] { ++shown; });
    QObject::connect(&tray, &TrayIcon::helpRequested, [&] { ++help; });
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(shown, 0); // a single click opens nothing
    emit tray.icon().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(shown, 1);
    // The double click runs whatever entry is the default, not a fixed command.
    tray.menu()->setDefaultAction(tray.menu()->actions()[2]);
    emit tray.icon().activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(help, 1);
    EXPECT_EQ(shown, 1);
    // A click on a notification asks for the window.
    emit tray.icon().messageClicked();
    EXPECT_EQ(shown, 2);
}
