#include "ui/widgets/file_tree_mirror.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QStyle>
#include <QTreeWidget>

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
    // Items keep their ids and only ever gain children at the end or lose them all, so the shown
    // children that still match lead the list; the rest is built anew.
    int kept = 0;
    const int shownCount = childCount(tree_, parent);
    while (kept < shownCount && kept < static_cast<int>(items.size()) &&
           itemId(childAt(tree_, parent, kept)) == items[static_cast<std::size_t>(kept)]->id)
        ++kept;
    for (int i = childCount(tree_, parent) - 1; i >= kept; --i)
        delete childAt(tree_, parent, i);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const FileItem& item = *items[i];
        if (static_cast<int>(i) < kept) {
            QTreeWidgetItem* shown = childAt(tree_, parent, static_cast<int>(i));
            syncChildren(shown, item.children);
            applyExpansion(shown, item);
            continue;
        }
        QTreeWidgetItem* shown = makeItem(item);
        if (parent)
            parent->addChild(shown);
        else
            tree_->addTopLevelItem(shown);
        applyExpansionBelow(shown, item); // an item opens only once it sits in the tree
    }
}

QTreeWidgetItem* FileTreeMirror::makeItem(const FileItem& item)
{
    auto* shown = new QTreeWidgetItem({qs(item.name), qs(item.size), qs(item.path), qs(item.host)});
    shown->setData(kName, Qt::UserRole, item.id);
    shown->setIcon(kName, iconFor(item));
    shown->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
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
    for (int i = 0; i < shown->childCount() && i < static_cast<int>(item.children.size()); ++i)
        applyExpansionBelow(shown->child(i), *item.children[static_cast<std::size_t>(i)]);
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
