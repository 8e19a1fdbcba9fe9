#pragma once

#include <QTreeWidgetItem>

namespace vandry {

// A list row that sorts by what its columns mean. A column's sort key (kSortKeyRole) is a
// number, compared by value, or a text, compared in natural order; a column without one sorts by
// its shown text. The row's group (kGroupRole: folders 0, files 1, placeholders 2) comes first
// whichever way the column is sorted, so folders stay above files.
class SortableItem : public QTreeWidgetItem {
public:
    static constexpr int kSortKeyRole = Qt::UserRole + 7;
    static constexpr int kGroupRole = Qt::UserRole + 8;

    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override;
};

} // namespace vandry
