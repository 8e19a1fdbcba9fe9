#pragma once
// The popup menus of the file list and the task list. Each entry carries its command id as
// its data, so whoever shows a menu dispatches on the entry it returns.

class QAction;
class QMenu;

#include "tasks/task_list.h"

namespace vandry {

enum class MenuCommand {
    Download = 32780,
    DownloadAs = 32771,
    ViewShare = 32773,
    Help = 32774,
    ViewSource = 32839,
    OpenFile = 32830,
    ShowFolder = 32837,
    DeleteTask = 32831,
    StopTask = 32833,
    ResumeTask = 32834,
    UdpDownload = 32838,
    TaskProperties = 32836,
};

// A file-list item: "POPUP" (download, download as, help) when its host is known, else "RDR"
// (browse the host's share, help), as for a search root.
void fillFilePopup(QMenu& menu, bool hostKnown);
// "传输管理"; "UDP 下载" only while logging is on. Entries that do not apply are disabled.
void fillTaskMenu(QMenu& menu, bool logging, const TaskActions& applies = {});
// The command of a chosen entry; nullptr (nothing chosen) gives -1.
int menuCommand(const QAction* action);

} // namespace vandry
