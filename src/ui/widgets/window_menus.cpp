#include "ui/widgets/window_menus.h"

#include <QMenu>

namespace vandry {

namespace {
void addEntry(QMenu& menu, const QString& text, MenuCommand command, bool enabled = true)
{
    QAction* action = menu.addAction(text);
    action->setData(static_cast<int>(command));
    action->setEnabled(enabled);
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

void fillTaskMenu(QMenu& menu, bool logging, const TaskActions& applies)
{
    menu.setTitle(QStringLiteral("传输管理"));
    addEntry(menu, QStringLiteral("查看来源"), MenuCommand::ViewSource, applies.viewSource);
    menu.addSeparator();
    addEntry(menu, QStringLiteral("打开文件"), MenuCommand::OpenFile, applies.openFile);
    addEntry(menu, QStringLiteral("目录位置"), MenuCommand::ShowFolder);
    menu.addSeparator();
    addEntry(menu, QStringLiteral("删除任务"), MenuCommand::DeleteTask);
    menu.addSeparator();
    addEntry(menu, QStringLiteral("停止下载"), MenuCommand::StopTask, applies.stop);
    addEntry(menu, QStringLiteral("继续下载"), MenuCommand::ResumeTask, applies.resume);
    if (logging)
        addEntry(menu, QStringLiteral("UDP 下载"), MenuCommand::UdpDownload, applies.resume);
    menu.addSeparator();
    addEntry(menu, QStringLiteral("任务属性"), MenuCommand::TaskProperties);
}

int menuCommand(const QAction* action)
{
    return action ? action->data().toInt() : -1;
}

} // namespace vandry
