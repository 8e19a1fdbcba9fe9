#include "ui/widgets/sortable_item.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "common/natural_order.h"

namespace vandry {

namespace {
int compareKeys(const QVariant& a, const QVariant& b)
{
    if (a.typeId() == QMetaType::QString || b.typeId() == QMetaType::QString)
        return naturalCompare(a.toString().toStdString(), b.toString().toStdString());
    const double x = a.toDouble();
    const double y = b.toDouble();
    return x < y ? -1 : (y < x ? 1 : 0);
}

QVariant sortKey(const QTreeWidgetItem& item, int column)
{
    const QVariant key = item.data(column, SortableItem::kSortKeyRole);
    return key.isValid() ? key : QVariant(item.text(column));
}
} // namespace

bool SortableItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* tree = treeWidget();
    const int column = tree ? tree->sortColumn() : 0;
    // Qt shows a descending column by asking the other way round; the group order must not turn.
    const bool descending = tree && tree->header()->sortIndicatorOrder() == Qt::DescendingOrder;
    const int group = data(0, kGroupRole).toInt();
    const int otherGroup = other.data(0, kGroupRole).toInt();
    if (group != otherGroup)
        return descending ? group > otherGroup : group < otherGroup;
    if (const int order = compareKeys(sortKey(*this, column), sortKey(other, column)); order != 0)
        return order < 0;
    // Equal keys fall back to the name, in the same direction as the column.
    return column != 0 && compareKeys(sortKey(*this, 0), sortKey(other, 0)) < 0;
}

} // namespace vandry
