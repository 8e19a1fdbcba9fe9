#pragma once
// Shows the core file list in the window's tree. Items that are already shown stay as they are,
// so a listing that arrives under a folder keeps the scroll position, the selection and the
// folders the user opened.

#include <QHash>
#include <QIcon>
#include <cstdint>
#include <memory>
#include <vector>

#include "ui/file_list.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace vandry {

class FileTreeMirror {
public:
    explicit FileTreeMirror(QTreeWidget* tree);

    void update(const FileList& files);
    // The file-list item shown by a tree item, or -1.
    static std::int32_t itemId(const QTreeWidgetItem* item);

private:
    void syncChildren(QTreeWidgetItem* parent, const std::vector<std::unique_ptr<FileItem>>& items);
    QTreeWidgetItem* makeItem(const FileItem& item);
    void applyExpansion(QTreeWidgetItem* shown, const FileItem& item);
    void applyExpansionBelow(QTreeWidgetItem* shown, const FileItem& item);
    QIcon iconFor(const FileItem& item);

    QTreeWidget* tree_;
    QIcon folderIcon_;
    QIcon driveIcon_;
    QIcon fileIcon_;
    QHash<QString, QIcon> iconBySuffix_;
};

} // namespace vandry
