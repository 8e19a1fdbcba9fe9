#include "ui/widgets/file_tree_mirror.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QMimeDatabase>
#include <QStyle>
#include <QTreeWidget>

#include "ui/widgets/shown_items.h"
#include "ui/widgets/sortable_item.h"

namespace vandry {

namespace {
enum FileColumn { kName = 0, kSize = 1 };
// Whether the model's wish to open the item was carried out.
constexpr int kOpenedRole = Qt::UserRole + 1;

QString qs(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int childCount(QTreeWidget* tree, QTreeWidgetItem* parent)
{
    return parent ? parent->childCount() : tree->topLevelItemCount();
}

QTreeWidgetItem* childAt(QTreeWidget* tree, QTreeWidgetItem* parent, int index)
{
    return parent ? parent->child(index) : tree->topLevelItem(index);
}
} // namespace

FileTreeMirror::FileTreeMirror(QTreeWidget* tree)
    : tree_(tree), folderIcon_(tree->style()->standardIcon(QStyle::SP_DirIcon)),
      driveIcon_(tree->style()->standardIcon(QStyle::SP_DriveHDIcon)),
      fileIcon_(tree->style()->standardIcon(QStyle::SP_FileIcon))
{
}

void FileTreeMirror::update(const FileList& files)
{
    // The notice stands alone in the list, as an item no command acts on (it carries no id).
    if (files.roots().empty()) {
        tree_->clear();
        if (!files.notice().empty()) {
            auto* notice = new QTreeWidgetItem({qs(files.notice())});
            notice->setFlags(Qt::ItemIsEnabled);
            tree_->addTopLevelItem(notice);
        }
        return;
    }
    syncChildren(nullptr, files.roots());
    // Items come in at the end; a sorted tree puts them in their places.
    if (tree_->isSortingEnabled())
        tree_->sortItems(tree_->sortColumn(), tree_->header()->sortIndicatorOrder());
}

std::int32_t FileTreeMirror::itemId(const QTreeWidgetItem* item)
{
    if (!item)
        return -1;
    bool ok = false;
    const int id = item->data(kName, Qt::UserRole).toInt(&ok);
    return ok ? id : -1;
}

void FileTreeMirror::syncChildren(QTreeWidgetItem* parent, const std::vector<std::unique_ptr<FileItem>>& items)
{
    // The tree may show items in another order than the list holds them (the user sorts it), so
    // shown items are matched by id: those still listed stay as they are, with their scroll
    // position, selection and opened state, and the rest go.
    QHash<std::int32_t, QTreeWidgetItem*> shown;
    for (int i = childCount(tree_, parent) - 1; i >= 0; --i) {
        QTreeWidgetItem* child = childAt(tree_, parent, i);
        shown.insert(itemId(child), child);
    }
    QHash<std::int32_t, const FileItem*> listed;
    for (const auto& item : items)
        listed.insert(item->id, item.get());
    dropUnlisted(shown, listed);
    for (const auto& item : items) {
        if (QTreeWidgetItem* kept = shown.value(item->id)) {
            syncChildren(kept, item->children);
            applyExpansion(kept, *item);
            continue;
        }
        QTreeWidgetItem* made = makeItem(*item);
        if (parent)
            parent->addChild(made);
        else
            tree_->addTopLevelItem(made);
        applyExpansionBelow(made, *item); // an item opens only once it sits in the tree
    }
}

QTreeWidgetItem* FileTreeMirror::makeItem(const FileItem& item)
{
    auto* shown = new SortableItem(
        {qs(item.label.empty() ? item.name : item.label), qs(item.size), qs(item.path), qs(item.host)});
    shown->setData(kName, Qt::UserRole, item.id);
    shown->setIcon(kName, iconFor(item));
    shown->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
    const bool file = item.icon == FileIcon::File;
    shown->setData(kName, SortableItem::kGroupRole, item.name == kMoreFilesPlaceholder ? 2 : (file ? 1 : 0));
    if (file)
        shown->setData(kSize, SortableItem::kSortKeyRole, QVariant::fromValue<qulonglong>(item.bytes));
    // A cut name shows whole when the pointer rests on it.
    shown->setToolTip(kName, qs(item.name));
    for (const auto& child : item.children)
        shown->addChild(makeItem(*child));
    return shown;
}

// The model opens folders once; closing one again is the user's business.
void FileTreeMirror::applyExpansion(QTreeWidgetItem* shown, const FileItem& item)
{
    if (item.expanded && !shown->data(kName, kOpenedRole).toBool()) {
        shown->setExpanded(true);
        shown->setData(kName, kOpenedRole, true);
    }
}

void FileTreeMirror::applyExpansionBelow(QTreeWidgetItem* shown, const FileItem& item)
{
    applyExpansion(shown, item);
    QHash<std::int32_t, const FileItem*> listed;
    for (const auto& child : item.children)
        listed.insert(child->id, child.get());
    for (int i = 0; i < shown->childCount(); ++i)
        if (const FileItem* child = listed.value(itemId(shown->child(i))))
            applyExpansionBelow(shown->child(i), *child);
}

QIcon FileTreeMirror::iconFor(const FileItem& item)
{
    switch (item.icon) {
    case FileIcon::Folder:
        return folderIcon_;
    case FileIcon::Drive:
        return driveIcon_;
    case FileIcon::File:
        break;
    }
    // The desktop's icon for the file's type, looked up once per extension.
    const QString suffix = QFileInfo(qs(item.name)).suffix().toLower();
    const auto cached = iconBySuffix_.constFind(suffix);
    if (cached != iconBySuffix_.constEnd())
        return *cached;
    static const QMimeDatabase mimeTypes;
    const QMimeType type = mimeTypes.mimeTypeForFile(qs(item.name), QMimeDatabase::MatchExtension);
    const QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fileIcon_));
    iconBySuffix_.insert(suffix, icon);
    return icon;
}

} // namespace vandry
