#include "ui/widgets/main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QHash>
#include <QHeaderView>
#include <QImageReader>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include "common/version.h"
#include "qt/copy_runtime.h"
#include "ui/widgets/about_dialog.h"
#include "ui/widgets/list_columns.h"
#include "ui/widgets/list_commands.h"
#include "ui/widgets/progress_delegate.h"
#include "ui/widgets/settings_dialog.h"
#include "ui/widgets/shown_items.h"
#include "ui/widgets/sortable_item.h"
#include "ui/widgets/status_strip.h"
#include "ui/widgets/tray_icon.h"

namespace vandry {

namespace {
QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The window template, in dialog units: x, y, width, height.
struct TemplateRect {
    LayoutControl control;
    Rect units;
};
constexpr TemplateRect kTemplate[] = {
    {LayoutControl::FileList, {76, 7, 263, 194}},      {LayoutControl::NeighbourList, {7, 7, 66, 229}},
    {LayoutControl::TaskList, {76, 202, 263, 51}},     {LayoutControl::SearchBox, {7, 238, 66, 15}},
    {LayoutControl::SettingsButton, {340, 7, 17, 21}}, {LayoutControl::AboutButton, {340, 29, 17, 21}},
};
constexpr Rect kAnnounceButtonUnits{8, 0, 6, 7};
constexpr Rect kLinkDumpButtonUnits{146, 0, 7, 6};
constexpr QSize kTemplateSizeUnits{364, 258};

QTreeWidget* makeList(const std::vector<ListColumn>& columns, bool tree)
{
    auto* list = new QTreeWidget;
    applyColumns(list, columns);
    list->setRootIsDecorated(tree);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    return list;
}
} // namespace

MainWindow::MainWindow(CopyRuntime& runtime, QWidget* parent) : QWidget(parent), runtime_(runtime)
{
    setWindowTitle(qs(kVersionText));
    // The program's own icon needs Qt's SVG support; without it, a stock one stands in.
    const bool svg = QImageReader::supportedImageFormats().contains("svg");
    setWindowIcon(svg ? QIcon(QStringLiteral(":/icons/vandry.svg")) : style()->standardIcon(QStyle::SP_DriveNetIcon));
    tray_ = new TrayIcon(windowIcon(), this);
    connect(tray_, &TrayIcon::showRequested, this, &MainWindow::bringToFront);
    connect(tray_, &TrayIcon::helpRequested, this, [this] { runCommand(WindowCommand::Help); });
    connect(tray_, &TrayIcon::aboutRequested, this, [this] { runCommand(WindowCommand::About); });
    connect(tray_, &TrayIcon::exitRequested, this, [this] { runCommand(WindowCommand::Exit); });
    createControls();
    createMenu();
    saveTemplateRects();
    // The template is the smallest size that shows everything; a first start opens roomier.
    const QSize smallest = templateSize_ + QSize(0, statusStrip_->sizeHint().height());
    setMinimumSize(smallest);
    QSize roomy = smallest * 3 / 2;
    if (const QScreen* shown = screen())
        roomy = roomy.boundedTo(shown->availableGeometry().size() * 9 / 10).expandedTo(smallest);
    resize(roomy);
    placeControls();
    restoreWindowState();

    runtime_.windowModel().setView(this);
    connect(&runtime_, &CopyRuntime::stopped, this, [this] {
        stopping_ = true;
        close();
    });
}

MainWindow::~MainWindow()
{
    runtime_.windowModel().setView(nullptr);
}

void MainWindow::createControls()
{
    neighbourList_ = makeList(neighbourColumns(), false);
    neighbourList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // its one column follows its width
    fileList_ = makeList(fileColumns(), true);
    taskList_ = makeList(taskColumns(), false);
    for (int visual = 0; visual < static_cast<int>(taskDisplayOrder().size()); ++visual)
        taskList_->header()->moveSection(taskList_->header()->visualIndex(taskDisplayOrder()[visual]), visual);
    taskList_->setItemDelegateForColumn(kTaskProgress, new ProgressDelegate(taskList_));
    // "100%" stays readable on the bar: the column never gets narrower than that.
    const int narrowestProgress = fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 16;
    connect(taskList_->header(), &QHeaderView::sectionResized, this,
            [this, narrowestProgress](int column, int, int width) {
                if (column == kTaskProgress && width < narrowestProgress)
                    taskList_->header()->resizeSection(column, narrowestProgress);
            });
    // Folders first, names in natural order, until the user picks another column.
    fileList_->setSortingEnabled(true);
    fileList_->sortByColumn(0, Qt::AscendingOrder);
    sortOnHeaderClick(neighbourList_);
    sortOnHeaderClick(taskList_);
    statusStrip_ = new StatusStrip(runtime_.windowModel(), this);
    searchBox_ = new QLineEdit;
    searchBox_->setPlaceholderText(QStringLiteral("搜索文件名"));
    settingsButton_ = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogDetailedView), QString());
    settingsButton_->setToolTip(QStringLiteral("参数配置"));
    aboutButton_ = new QPushButton(style()->standardIcon(QStyle::SP_MessageBoxInformation), QString());
    aboutButton_->setToolTip(QStringLiteral("关于Vandry"));
    announceButton_ = new QPushButton;
    announceButton_->setFlat(true);
    linkDumpButton_ = new QPushButton;
    linkDumpButton_->setFlat(true);
    for (QWidget* widget : {static_cast<QWidget*>(neighbourList_), static_cast<QWidget*>(fileList_),
                            static_cast<QWidget*>(taskList_), static_cast<QWidget*>(searchBox_),
                            static_cast<QWidget*>(settingsButton_), static_cast<QWidget*>(aboutButton_),
                            static_cast<QWidget*>(announceButton_), static_cast<QWidget*>(linkDumpButton_)})
        widget->setParent(this);

    MainWindowModel& model = runtime_.windowModel();
    connect(settingsButton_, &QPushButton::clicked, this, [this] { openSettings(); });
    connect(aboutButton_, &QPushButton::clicked, this, [this] { runCommand(WindowCommand::About); });
    connect(announceButton_, &QPushButton::clicked, this, [&model] { model.announceNow(); });
    connect(linkDumpButton_, &QPushButton::clicked, this, [&model] { model.requestLinkDump(); });
    auto* logging = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+L")), this);
    logging->setContext(Qt::ApplicationShortcut);
    connect(logging, &QShortcut::activated, this, [&model] { model.toggleLogging(); });
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        searchBox_->setFocus(Qt::ShortcutFocusReason);
        searchBox_->selectAll();
    });
    auto* dump = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+K")), this);
    dump->setContext(Qt::ApplicationShortcut);
    connect(dump, &QShortcut::activated, this, [&model] { model.requestLinkDump(); });
    lists_ = new ListCommands(runtime_, this, {neighbourList_, fileList_, taskList_, searchBox_},
                              [this] { runCommand(WindowCommand::Help); });
}

void MainWindow::createMenu()
{
    // A Linux window has no system menu to extend, so the same entries sit behind a menu button.
    menuButton_ = new QToolButton(this);
    menuButton_->setText(QStringLiteral("≡"));
    menuButton_->setToolTip(QStringLiteral("菜单"));
    menuButton_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(menuButton_);
    const auto addEntry = [this, menu](const QString& text, WindowCommand command) {
        QAction* action = menu->addAction(text);
        action->setData(static_cast<int>(command));
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
    };
    menu->addSeparator();
    addEntry(QStringLiteral("使用帮助 (&H)..."), WindowCommand::Help);
    addEntry(QStringLiteral("关于Vandry (&A)..."), WindowCommand::About);
    menu->addSeparator();
    addEntry(QStringLiteral("退出程序 (&X)"), WindowCommand::Exit);
    menuButton_->setMenu(menu);
}

void MainWindow::saveTemplateRects()
{
    // Dialog units follow the font: a quarter of the average character width, an eighth of its height.
    const QFontMetrics metrics(font());
    const double unitX = metrics.averageCharWidth() / 4.0;
    const double unitY = metrics.height() / 8.0;
    const auto toPixels = [&](const Rect& units) {
        return Rect{qRound(units.x * unitX), qRound(units.y * unitY), qRound(units.width * unitX),
                    qRound(units.height * unitY)};
    };
    for (const TemplateRect& entry : kTemplate)
        at(templateRects_, entry.control) = toPixels(entry.units);
    const Rect announce = toPixels(kAnnounceButtonUnits);
    announceButton_->setGeometry(announce.x, announce.y, announce.width, announce.height);
    const Rect dump = toPixels(kLinkDumpButtonUnits);
    linkDumpButton_->setGeometry(dump.x, dump.y, dump.width, dump.height);
    templateSize_ = QSize(qRound(kTemplateSizeUnits.width() * unitX), qRound(kTemplateSizeUnits.height() * unitY));
}

QWidget* MainWindow::control(LayoutControl which) const
{
    switch (which) {
    case LayoutControl::FileList:
        return fileList_;
    case LayoutControl::NeighbourList:
        return neighbourList_;
    case LayoutControl::TaskList:
        return taskList_;
    case LayoutControl::SearchBox:
        return searchBox_;
    case LayoutControl::SettingsButton:
        return settingsButton_;
    case LayoutControl::AboutButton:
        return aboutButton_;
    case LayoutControl::Count:
        break;
    }
    return nullptr;
}

void MainWindow::placeControls()
{
    // The status line takes the bottom; the lists flow into the rest.
    const int statusHeight = statusStrip_->sizeHint().height();
    statusStrip_->setGeometry(0, height() - statusHeight, width(), statusHeight);
    const ControlRects placed = layoutControls(templateRects_, width(), height() - statusHeight);
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const Rect& r = placed[i];
        control(static_cast<LayoutControl>(i))->setGeometry(r.x, r.y, r.width, r.height);
    }
    const Rect& about = at(placed, LayoutControl::AboutButton);
    menuButton_->setGeometry(about.x, about.y + about.height + 6, about.width, about.width);
    const ColumnWidths widths = columnWidths(placed);
    fileList_->setColumnWidth(0, widths.fileName);
    neighbourList_->setColumnWidth(0, widths.neighbourName);
    taskList_->setColumnWidth(0, widths.taskName);
    taskList_->setColumnWidth(3, widths.taskInfo);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeControls();
}

void MainWindow::neighboursChanged()
{
    neighbourList_->clear();
    const QIcon icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    for (const NeighbourRow& row : runtime_.windowModel().neighbourRows()) {
        auto* item = new SortableItem({QString::fromStdString(row.nickname), QString::fromStdString(row.identityHex)});
        item->setIcon(0, icon);
        if (row.silent) {
            item->setText(0, item->text(0) + QStringLiteral("（没有应答）"));
            item->setForeground(0, palette().brush(QPalette::Disabled, QPalette::Text));
        }
        neighbourList_->addTopLevelItem(item);
    }
}

void MainWindow::tasksChanged()
{
    // Shown rows are found by task identity: the user may have sorted the list.
    const TaskList& tasks = runtime_.windowModel().tasks();
    QHash<QString, QTreeWidgetItem*> shown;
    for (int i = taskList_->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = taskList_->topLevelItem(i);
        shown.insert(item->text(kTaskIdentity), item);
    }
    QSet<QString> listed;
    for (const TaskRow& row : tasks.rows())
        listed.insert(qs(row[kTaskIdentity]));
    dropUnlisted(shown, listed);
    // Texts change under a sorted list: it sorts once, after all of them.
    const bool sorting = taskList_->isSortingEnabled();
    taskList_->setSortingEnabled(false);
    for (const TaskRow& row : tasks.rows()) {
        QTreeWidgetItem* item = shown.value(qs(row[kTaskIdentity]));
        if (!item) {
            item = new SortableItem;
            item->setIcon(
                0, style()->standardIcon(TaskList::isDirectoryTask(row) ? QStyle::SP_DirIcon : QStyle::SP_FileIcon));
            for (const int column : {2, 8, static_cast<int>(kTaskSizeShown), static_cast<int>(kTaskRemainingShown),
                                     static_cast<int>(kTaskSourcesShown)})
                item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
            taskList_->addTopLevelItem(item);
        }
        showTaskRow(item, row, tasks.figures(row[kTaskIdentity]));
    }
    taskList_->setSortingEnabled(sorting);
}

void MainWindow::showTaskRow(QTreeWidgetItem* item, const TaskRow& row, const TaskFigures* figures)
{
    for (std::size_t c = 0; c < kTaskColumnCount; ++c)
        item->setText(static_cast<int>(c), qs(row[c]));
    // Cut texts show whole when the pointer rests on them.
    item->setToolTip(kTaskName, qs(row[kTaskLocalPath]));
    item->setToolTip(kTaskInfo, qs(row[kTaskInfo]));
    item->setData(kTaskProgress, SortableItem::kSortKeyRole, QString(qs(row[kTaskProgress])).remove('%').toInt());
    const TaskFigures none;
    const TaskFigures& shown = figures ? *figures : none;
    item->setText(kTaskSizeShown, qs(sizeProgressText(shown)));
    item->setData(kTaskSizeShown, SortableItem::kSortKeyRole, QVariant::fromValue<qulonglong>(shown.totalBytes));
    item->setData(kTaskRate, SortableItem::kSortKeyRole, QVariant::fromValue<qulonglong>(shown.bytesPerSecond));
    item->setText(kTaskRemainingShown, qs(remainingTimeText(shown)));
    item->setText(kTaskSourcesShown, shown.running ? QString::number(shown.sources) : QString());
    item->setData(kTaskSourcesShown, SortableItem::kSortKeyRole, shown.sources);
}

void MainWindow::filesChanged()
{
    lists_->filesChanged();
    statusStrip_->refresh();
}

void MainWindow::statusChanged()
{
    statusStrip_->refresh();
}

void MainWindow::showLocalFileError(const std::string& path, const std::string& reason)
{
    QMessageBox::warning(this, QStringLiteral("错误"), QString::fromStdString(path + ": " + reason));
}

void MainWindow::loggingChanged(bool on)
{
    linkDumpButton_->setVisible(on);
}

void MainWindow::runCommand(WindowCommand command)
{
    switch (command) {
    case WindowCommand::Exit:
        runtime_.stop();
        return;
    case WindowCommand::Help:
        QDesktopServices::openUrl(QUrl(qs(kHelpPageUrl)));
        return;
    case WindowCommand::About: {
        AboutDialog about(this);
        about.exec();
        return;
    }
    }
}

bool MainWindow::openSettings()
{
    SettingsDialog dialog(runtime_.settingsForm(), isVisible() ? this : nullptr);
    const bool applied = dialog.exec() == QDialog::Accepted;
    runtime_.settingsApplied(dialog.announceRequested(), dialog.shareChanged());
    return applied;
}

void MainWindow::bringToFront()
{
    tray_->setVisible(false);
    showNormal();
    raise();
    activateWindow();
}

bool MainWindow::hideToTray()
{
    if (!TrayIcon::available())
        return false;
    tray_->setVisible(true);
    hide();
    runtime_.windowModel().windowHidden();
    return true;
}

void MainWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // Minimised, the window goes to the notification area; once the event is handled, since the
    // window manager is still changing the window's state.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayIcon::available())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hideToTray();
        });
}

void MainWindow::taskEnded(const std::string& name, bool finished, const std::string& reason)
{
    if (!tray_->isVisible())
        return;
    tray_->notify(finished ? QStringLiteral("下载完成") : QStringLiteral("下载失败"),
                  finished ? qs(name) : qs(name + "：" + reason));
}

namespace {
constexpr std::string_view kGeometryKey = "Geometry";
constexpr std::pair<std::string_view, int> kHeaderKeys[] = {
    {"NeighbourColumns", 0}, {"FileColumns", 1}, {"TaskColumns", 2}};
} // namespace

void MainWindow::restoreWindowState()
{
    Profile& profile = runtime_.copy().profile();
    const auto bytes = [&](std::string_view key) {
        return QByteArray::fromBase64(QByteArray::fromStdString(profile.windowState(key)));
    };
    restoreGeometry(bytes(kGeometryKey));
    QTreeWidget* lists[] = {neighbourList_, fileList_, taskList_};
    for (const auto& [key, list] : kHeaderKeys)
        if (const QByteArray state = bytes(key); !state.isEmpty())
            lists[list]->header()->restoreState(state);
}

void MainWindow::saveWindowState()
{
    Profile& profile = runtime_.copy().profile();
    const auto save = [&](std::string_view key, const QByteArray& state) {
        profile.setWindowState(key, state.toBase64().toStdString());
    };
    save(kGeometryKey, saveGeometry());
    QTreeWidget* lists[] = {neighbourList_, fileList_, taskList_};
    for (const auto& [key, list] : kHeaderKeys)
        save(key, lists[list]->header()->saveState());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Closing hides the window to the notification area; on a desktop without one, closing is
    // the way out: the stop sequence runs.
    if (!stopping_) {
        event->ignore();
        if (!hideToTray())
            runtime_.stop();
        return;
    }
    tray_->setVisible(false);
    saveWindowState();
    event->accept();
}

} // namespace vandry
