#include "ui/widgets/list_commands.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QTreeWidget>

#include "qt/copy_runtime.h"
#include "ui/name_clash.h"
#include "ui/widgets/delete_task_dialog.h"
#include "ui/widgets/name_clash_dialog.h"
#include "ui/widgets/seeding_dialog.h"
#include "ui/widgets/task_property_dialog.h"

namespace vandry {

namespace {
// Where the current item's menu opens for Shift+F10 and the menu key.
QPoint currentItemPoint(QTreeWidget* list)
{
    return list->currentItem() ? list->visualItemRect(list->currentItem()).center() : QPoint(-1, -1);
}

constexpr int kNeighbourIdentityColumn = 1;

QString qs(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The last component of a local folder path ("/dl/music/" gives "music").
std::string lastFolderName(std::string path)
{
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}
} // namespace

ListCommands::ListCommands(CopyRuntime& runtime, QWidget* window, const WindowLists& lists, std::function<void()> help)
    : QObject(window), runtime_(runtime), window_(window), lists_(lists), help_(std::move(help)), mirror_(lists.files)
{
    lists_.files->setContextMenuPolicy(Qt::CustomContextMenu);
    lists_.tasks->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lists_.files, &QWidget::customContextMenuRequested, this, &ListCommands::fileMenuRequested);
    connect(lists_.tasks, &QWidget::customContextMenuRequested, this, &ListCommands::taskMenuRequested);
    connect(lists_.files, &QTreeWidget::itemDoubleClicked, this, &ListCommands::fileDoubleClicked);
    connect(lists_.tasks, &QTreeWidget::itemDoubleClicked, this, &ListCommands::taskDoubleClicked);
    connect(lists_.neighbours, &QTreeWidget::itemDoubleClicked, this, &ListCommands::neighbourDoubleClicked);
    connect(lists_.searchBox, &QLineEdit::returnPressed, this, &ListCommands::search);
    addKeyboardCommands();
    highlight_ = new MatchHighlightDelegate(lists_.files);
    lists_.files->setItemDelegateForColumn(0, highlight_);
}

void ListCommands::addKeyboardCommands()
{
    const auto onKeys = [this](QTreeWidget* list, std::initializer_list<QKeySequence> keys, auto command) {
        for (const QKeySequence& key : keys) {
            auto* shortcut = new QShortcut(key, list, nullptr, nullptr, Qt::WidgetShortcut);
            connect(shortcut, &QShortcut::activated, this, command);
        }
    };
    const std::initializer_list<QKeySequence> enter{Qt::Key_Return, Qt::Key_Enter};
    const std::initializer_list<QKeySequence> menu{QKeySequence(Qt::SHIFT | Qt::Key_F10), Qt::Key_Menu};
    onKeys(lists_.neighbours, enter, [this] { neighbourDoubleClicked(lists_.neighbours->currentItem()); });
    onKeys(lists_.files, enter, [this] { fileEntered(); });
    onKeys(lists_.tasks, enter, [this] { taskDoubleClicked(lists_.tasks->currentItem()); });
    onKeys(lists_.files, menu, [this] { fileMenuRequested(currentItemPoint(lists_.files)); });
    onKeys(lists_.tasks, menu, [this] { taskMenuRequested(currentItemPoint(lists_.tasks)); });
}

void ListCommands::fileEntered()
{
    QTreeWidgetItem* item = lists_.files->currentItem();
    if (!item || !select(item))
        return;
    if (!selection_.isDirectory)
        download();
    else if (selection_.hasChildren)
        item->setExpanded(!item->isExpanded());
    else
        fileDoubleClicked(item);
}

void ListCommands::filesChanged()
{
    highlight_->setSearch(qs(runtime_.windowModel().searchText()));
    mirror_.update(runtime_.windowModel().files());
    lists_.files->viewport()->update();
}

bool ListCommands::select(QTreeWidgetItem* item)
{
    const FileItem* shown = runtime_.windowModel().files().find(FileTreeMirror::itemId(item));
    if (!shown)
        return false;
    selection_ = runtime_.windowModel().files().selectionFor(*shown, runtime_.copy().settings().downloadRoot);
    return true;
}

void ListCommands::fileMenuRequested(const QPoint& at)
{
    QTreeWidgetItem* item = lists_.files->itemAt(at);
    if (!item || !select(item))
        return;
    lists_.files->setCurrentItem(item);
    QMenu menu;
    fillFilePopup(menu, selection_.hostKnown);
    switch (static_cast<MenuCommand>(menuCommand(menu.exec(lists_.files->viewport()->mapToGlobal(at))))) {
    case MenuCommand::Download:
        download();
        break;
    case MenuCommand::DownloadAs:
        downloadAs();
        break;
    case MenuCommand::ViewShare:
        runtime_.commands().browseHost(selection_.host, "\\", -1);
        break;
    case MenuCommand::Help:
        help_();
        break;
    default:
        break;
    }
}

void ListCommands::fileDoubleClicked(QTreeWidgetItem* item)
{
    const std::int32_t id = FileTreeMirror::itemId(item);
    if (select(item) && selection_.isDirectory && !selection_.hasChildren)
        runtime_.commands().browseHost(selection_.host, selection_.record.remotePath, id);
}

void ListCommands::download()
{
    if (!selection_.isDirectory && !settleNameClash())
        return;
    runtime_.commands().downloadTo(selection_.record, selection_.host);
}

bool ListCommands::settleNameClash()
{
    TaskRecord& record = selection_.record;
    // A task of that name carries on where it is.
    for (const TaskRow& row : runtime_.commands().tasks())
        if (row[kTaskLocalPath] == record.localPath)
            return true;
    const auto clash = findNameClash(record.localPath, selection_.size, runtime_.resumeStore());
    if (!clash)
        return true;
    switch (askAboutNameClash(window_, qs(record.localPath), clash->mayResume)) {
    case ClashChoice::Resume:
        return true;
    case ClashChoice::KeepBoth:
        record.localPath = clash->keepBothPath;
        return true;
    case ClashChoice::Cancel:
        break;
    }
    return false;
}

void ListCommands::downloadAs()
{
    TaskRecord& record = selection_.record;
    if (selection_.isDirectory) {
        const QString chosen = QFileDialog::getExistingDirectory(window_, QStringLiteral("请选择下载目录位置"),
                                                                 qs(runtime_.copy().settings().downloadRoot));
        if (chosen.isEmpty())
            return;
        std::string folder = chosen.toStdString();
        if (folder.back() != '/')
            folder += '/';
        record.localPath = folder + lastFolderName(record.localPath) + "/";
    } else {
        const std::string chosen =
            QFileDialog::getSaveFileName(window_, QStringLiteral("请选择下载文件位置"), qs(record.localPath), QString(),
                                         nullptr, QFileDialog::DontConfirmOverwrite)
                .toStdString();
        // A name without a folder before it is no place to write to.
        if (chosen.find('/', 1) == std::string::npos)
            return;
        record.localPath = chosen;
    }
    download();
}

std::optional<std::size_t> ListCommands::taskRow(const QTreeWidgetItem* item) const
{
    // The list may be sorted: a shown row finds its task by the identity it carries.
    if (!item)
        return std::nullopt;
    const auto identity = identityFromText(item->text(kTaskIdentity).toStdString());
    return identity ? runtime_.windowModel().tasks().findRow(*identity) : std::nullopt;
}

void ListCommands::taskMenuRequested(const QPoint& at)
{
    QTreeWidgetItem* item = lists_.tasks->itemAt(at);
    const auto row = taskRow(item);
    if (!row)
        return;
    const QString identity = item->text(kTaskIdentity);
    QMenu menu;
    fillTaskMenu(menu, runtime_.windowModel().logging(), taskActions(runtime_.commands().tasks()[*row]));
    const int command = menuCommand(menu.exec(lists_.tasks->viewport()->mapToGlobal(at)));
    // Rows may have come and gone while the menu was open.
    const auto identityNow = identityFromText(identity.toStdString());
    const auto rowNow = identityNow ? runtime_.windowModel().tasks().findRow(*identityNow) : std::nullopt;
    if (command > 0 && rowNow)
        runTaskCommand(static_cast<MenuCommand>(command), *rowNow);
}

void ListCommands::taskDoubleClicked(QTreeWidgetItem* item)
{
    if (const auto row = taskRow(item))
        runTaskCommand(MenuCommand::TaskProperties, *row);
}

void ListCommands::runTaskCommand(MenuCommand command, std::size_t row)
{
    CopyCommands& commands = runtime_.commands();
    // The row may have gone while the menu was open.
    if (row >= commands.tasks().size())
        return;
    switch (command) {
    case MenuCommand::ViewSource:
        commands.viewSource(row);
        break;
    case MenuCommand::OpenFile:
        commands.openTaskFile(row);
        break;
    case MenuCommand::ShowFolder:
        commands.showTaskFolder(row);
        break;
    case MenuCommand::DeleteTask: {
        DeleteTaskDialog confirm(window_);
        if (confirm.exec() == QDialog::Accepted && row < commands.tasks().size())
            commands.deleteTask(row, confirm.deleteFiles());
        break;
    }
    case MenuCommand::StopTask:
        commands.stopTask(row);
        break;
    case MenuCommand::ResumeTask:
        commands.resumeTask(row);
        break;
    case MenuCommand::UdpDownload:
        commands.scheduleUdp(row);
        break;
    case MenuCommand::TaskProperties:
        showTaskProperties(row);
        break;
    default:
        break;
    }
}

// The dialog finds its task by identity at every refresh: rows come and go while it is open.
void ListCommands::showTaskProperties(std::size_t row)
{
    CopyCommands& commands = runtime_.commands();
    const std::string identity = commands.tasks()[row][kTaskIdentity];
    const auto rowNow = [&commands, identity] { return commands.taskRow(identity); };
    TaskPropertyActions actions;
    actions.snapshot = [&commands, rowNow] {
        const auto r = rowNow();
        return r ? commands.taskProperties(*r) : TaskProperties{};
    };
    actions.resume = [&commands, rowNow] {
        if (const auto r = rowNow())
            commands.resumeTask(*r);
    };
    actions.stop = [&commands, rowNow] {
        if (const auto r = rowNow())
            commands.stopTask(*r);
    };
    actions.closeLink = [&commands](std::uint8_t slot) { commands.closeLink(slot); };
    actions.showSources = [this, &commands, rowNow] {
        const auto r = rowNow();
        if (!r)
            return;
        const TaskSources sources = commands.sources(*r);
        if (!sources.known)
            return;
        MainWindowModel& model = runtime_.windowModel();
        SeedingDialog dialog(model.seeds(), runtime_.copy().neighbours(), runtime_.copy().platform().clock, sources.key,
                             window_);
        dialog.exec();
    };
    TaskPropertyDialog dialog(TaskList::isDirectoryTask(commands.tasks()[row]), std::move(actions), window_);
    dialog.exec();
}

void ListCommands::neighbourDoubleClicked(QTreeWidgetItem* item)
{
    if (item)
        runtime_.commands().browseNeighbour(item->text(kNeighbourIdentityColumn).toStdString(), "\\", -1);
}

void ListCommands::search()
{
    runtime_.commands().search(lists_.searchBox->text().toStdString());
    filesChanged(); // the search starts from an empty list
}

} // namespace vandry
