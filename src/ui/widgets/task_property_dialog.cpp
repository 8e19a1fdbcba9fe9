#include "ui/widgets/task_property_dialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/text.h"
#include "ui/widgets/block_bar.h"
#include "ui/widgets/list_columns.h"

namespace vandry {

namespace {
enum LinkColumn { LinkSlot, LinkSource, LinkProgress, LinkRate, LinkFile };
enum FolderColumn { ItemName, ItemState };

const std::vector<ListColumn>& linkColumns()
{
    static const std::vector<ListColumn> columns{
        {QStringLiteral("ID"), 25, Qt::AlignLeft, true},       {QStringLiteral("来源"), 80, Qt::AlignHCenter, true},
        {QStringLiteral("进度"), 100, Qt::AlignHCenter, true}, {QStringLiteral("速率"), 60, Qt::AlignRight, true},
        {QStringLiteral("资源"), 260, Qt::AlignHCenter, true},
    };
    return columns;
}

const std::vector<ListColumn>& folderColumns()
{
    static const std::vector<ListColumn> columns{
        {QStringLiteral("项目名称"), 450, Qt::AlignLeft, true},
        {QStringLiteral("传输状态"), 70, Qt::AlignHCenter, true},
    };
    return columns;
}

QString qs(const std::string& text)
{
    return QString::fromStdString(validUtf8(text));
}
} // namespace

TaskPropertyDialog::TaskPropertyDialog(bool isDirectory, TaskPropertyActions actions, QWidget* parent)
    : QDialog(parent), actions_(std::move(actions))
{
    setWindowTitle(QStringLiteral("任务属性"));
    file_ = new QLabel;
    size_ = new QLabel;
    digest_ = new QLabel;
    for (QLabel* label : {file_, size_, digest_})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* header = new QFormLayout;
    header->addRow(QStringLiteral("文件:"), file_);
    header->addRow(QStringLiteral("大小:"), size_);
    header->addRow(QStringLiteral("索引:"), digest_);

    links_ = new QTreeWidget;
    applyColumns(links_, linkColumns());
    links_->setRootIsDecorated(false);
    links_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(links_, &QTreeWidget::customContextMenuRequested, this, &TaskPropertyDialog::linkMenuRequested);

    folders_ = new QTreeWidget;
    applyColumns(folders_, folderColumns());
    folders_->setMinimumHeight(kFolderListHeight);
    showFolders_ = new QCheckBox(QStringLiteral("显示目录下载列表"));
    showFolders_->setChecked(isDirectory);
    showFolders_->setEnabled(isDirectory);
    folders_->setVisible(isDirectory);
    connect(showFolders_, &QCheckBox::toggled, this, &TaskPropertyDialog::toggleFolders);

    auto* start = new QPushButton(QStringLiteral("发起下载"));
    auto* stop = new QPushButton(QStringLiteral("全部停止"));
    auto* sources = new QPushButton(QStringLiteral("X"));
    sources->setToolTip(QStringLiteral("SEEDING"));
    connect(start, &QPushButton::clicked, this, [this] { actions_.resume(); });
    connect(stop, &QPushButton::clicked, this, [this] { actions_.stop(); });
    connect(sources, &QPushButton::clicked, this, [this] { actions_.showSources(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(showFolders_);
    buttons->addStretch();
    buttons->addWidget(start);
    buttons->addWidget(stop);
    buttons->addWidget(sources);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addWidget(links_);
    layout->addLayout(buttons);
    layout->addWidget(folders_);
    resize(620, isDirectory ? 300 + kFolderListHeight : 300);

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &TaskPropertyDialog::refresh);
    timer_->start(kRefreshIntervalMs);
    refresh();
}

void TaskPropertyDialog::refresh()
{
    const TaskProperties properties = actions_.snapshot();
    file_->setText(qs(properties.file));
    size_->setText(properties.size > 0 || !properties.digest.empty() ? QString::number(properties.size) : QString());
    digest_->setText(qs(properties.digest));
    refreshLinks(properties);
    if (properties.isDirectory)
        refreshFolders(properties);
}

void TaskPropertyDialog::refreshLinks(const TaskProperties& properties)
{
    // Rows of links that closed go; the others are updated in place.
    for (int i = links_->topLevelItemCount() - 1; i >= 0; --i) {
        const int slot = links_->topLevelItem(i)->text(LinkSlot).toInt();
        const bool open = std::any_of(properties.links.begin(), properties.links.end(),
                                      [&](const PropertyLink& link) { return link.slot == slot; });
        if (!open)
            delete links_->takeTopLevelItem(i);
    }
    for (const PropertyLink& link : properties.links) {
        QTreeWidgetItem* item = nullptr;
        for (int i = 0; i < links_->topLevelItemCount() && !item; ++i)
            if (links_->topLevelItem(i)->text(LinkSlot).toInt() == link.slot)
                item = links_->topLevelItem(i);
        if (!item) {
            item = new QTreeWidgetItem(links_);
            item->setText(LinkSlot, QString::number(link.slot));
            item->setText(LinkSource, qs(link.source));
            links_->setItemWidget(item, LinkProgress, new BlockBar);
        }
        auto* bar = static_cast<BlockBar*>(links_->itemWidget(item, LinkProgress));
        bar->setLayers({properties.blockCount,
                        properties.held,
                        {link.rangeStart, link.rangeEnd},
                        {std::max(link.position, link.rangeStart), link.rangeEnd}});
        item->setText(LinkRate, QStringLiteral("%1K/s").arg(link.rateK));
        item->setText(LinkFile, qs(link.file));
        item->setToolTip(LinkSource, qs(link.path));
    }
}

void TaskPropertyDialog::refreshFolders(const TaskProperties& properties)
{
    QString current; // the folder of the file in progress, else of the first one still to come
    for (const ListedFolder& folder : properties.folders) {
        const QString folderName = qs(folder.folder);
        QTreeWidgetItem*& folderItem = folderItems_[folderName];
        if (!folderItem) {
            folderItem = new QTreeWidgetItem(folders_, {folderName});
            folderItem->setIcon(ItemName, style()->standardIcon(QStyle::SP_DirIcon));
        }
        for (const ListedFolderFile& file : folder.files) {
            QTreeWidgetItem*& fileItem = fileItems_[folderName + QLatin1Char('\n') + qs(file.name)];
            if (!fileItem) {
                fileItem = new QTreeWidgetItem(folderItem, {qs(file.name)});
                fileItem->setIcon(ItemName, style()->standardIcon(QStyle::SP_FileIcon));
                fileItem->setTextAlignment(ItemState, Qt::AlignHCenter);
            }
            fileItem->setText(ItemState, qs(std::string(folderFileStateText(file.state))));
            if (file.state == FolderFileState::Transferring ||
                (current.isEmpty() && file.state == FolderFileState::Waiting))
                current = folderName;
        }
    }
    if (current.isEmpty() || current == expandedFolder_)
        return;
    // The folder being worked on opens; the one before closes.
    if (QTreeWidgetItem* before = folderItems_.value(expandedFolder_))
        before->setExpanded(false);
    folderItems_.value(current)->setExpanded(true);
    expandedFolder_ = current;
}

void TaskPropertyDialog::toggleFolders(bool shown)
{
    folders_->setVisible(shown);
    resize(width(), height() + (shown ? kFolderListHeight : -kFolderListHeight));
}

void TaskPropertyDialog::linkMenuRequested(const QPoint& at)
{
    if (const QTreeWidgetItem* item = links_->itemAt(at))
        actions_.closeLink(static_cast<std::uint8_t>(item->text(LinkSlot).toInt()));
}

} // namespace vandry
