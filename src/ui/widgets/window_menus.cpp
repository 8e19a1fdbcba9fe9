#include "ui/widgets/window_menus.h"

#include <QMenu>

namespace vandry {

namespace {
void addEntry(QMenu& menu, const QString& text, MenuCommand command)
{
    menu.addAction(text)->setData(static_cast<int>(command));
}
} // namespace

void fillFilePopup(QMenu& menu, bool hostKnown)
{
    if (hostKnown) {
        menu.setTitle(QStringLiteral("POPUP"));
        addEntry(menu, QStringLiteral("下载"), MenuCommand::Download);
        addEntry(menu, QStringLiteral("下载另存..."), MenuCommand::DownloadAs);
    } else {
        menu.setTitle(QStringLiteral("RDR"));
        addEntry(menu, QStringLiteral("查看共享"), MenuCommand::ViewShare);
    }
    menu.addSeparator();
    addEntry(menu, QStringLiteral("使用帮助"), MenuCommand::Help);
}

void fillTaskMenu(QMenu& menu, bool logging)
{
    menu.setTitle(QStringLiteral("传输管理"));
    addEntry(menu, QStringLiteral("查看来源"), MenuCommand::ViewSource);
    menu.addSeparator();
    addEntry(menu, QStringLiteral("打开文件"), MenuCommand::OpenFile);
    addEntry(menu, QStringLiteral("目录位置"), MenuCommand::ShowFolder);
    menu.addSeparator();
    addEntry(menu, QStringLiteral("删除任务"), MenuCommand::DeleteTask);
    menu.addSeparator();
    addEntry(menu, QStringLiteral("停止下载"), MenuCommand::StopTask);
    addEntry(menu, QStringLiteral("继续下载"), MenuCommand::ResumeTask);
    if (logging)
        addEntry(menu, QStringLiteral("UDP 下载"), MenuCommand::UdpDownload);
    menu.addSeparator();
    addEntry(menu, QStringLiteral("任务属性"), MenuCommand::TaskProperties);
}

int menuCommand(const QAction* action)
{
    return action ? action->data().toInt() : -1;
}

} // namespace vandry
