#include "ui/widgets/list_columns.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "ui/window_layout.h"

namespace vandry {

const std::vector<ListColumn>& neighbourColumns()
{
    static const std::vector<ListColumn> columns{
        {QStringLiteral("在线邻居"), 95, Qt::AlignLeft, true},
        {QStringLiteral("GUID"), 1, Qt::AlignLeft, false},
    };
    return columns;
}

const std::vector<ListColumn>& fileColumns()
{
    static const std::vector<ListColumn> columns{
        {QStringLiteral("文件"), 319, Qt::AlignLeft, true},
        {QStringLiteral("大小"), kFileSizeColumnWidth, Qt::AlignRight, true},
        {QStringLiteral("路径"), 1, Qt::AlignRight, false},
        {QStringLiteral("主机"), 1, Qt::AlignRight, false},
    };
    return columns;
}

const std::vector<ListColumn>& taskColumns()
{
    static const std::vector<ListColumn> columns{
        {QStringLiteral("文件"), 138, Qt::AlignLeft, true},
        {QStringLiteral("状态"), kTaskStateColumnWidth, Qt::AlignHCenter, true},
        {QStringLiteral("进度"), kTaskProgressColumnWidth, Qt::AlignHCenter, true},
        {QStringLiteral("信息"), 70, Qt::AlignLeft, true},
        {QStringLiteral("SignUI"), 0, Qt::AlignHCenter, false},
        {QStringLiteral("HostLite"), 0, Qt::AlignLeft, false},
        {QStringLiteral("NativeFile"), 0, Qt::AlignLeft, false},
        {QStringLiteral("RemoteFile"), 0, Qt::AlignLeft, false},
        {QStringLiteral("速率"), kTaskRateColumnWidth, Qt::AlignRight, true},
        {QStringLiteral("Tasking"), 48, Qt::AlignRight, false},
        {QStringLiteral("Last"), 48, Qt::AlignRight, false},
        {QStringLiteral("RootOFS"), 1, Qt::AlignLeft, false},
        {QStringLiteral("大小"), kTaskSizeColumnWidth, Qt::AlignRight, true},
        {QStringLiteral("剩余时间"), kTaskRemainingColumnWidth, Qt::AlignRight, true},
        {QStringLiteral("来源"), kTaskSourcesColumnWidth, Qt::AlignRight, true},
    };
    return columns;
}

const std::vector<int>& taskDisplayOrder()
{
    static const std::vector<int> order{0, 1, 2, kTaskSizeShown, 8, kTaskRemainingShown, kTaskSourcesShown, 3};
    return order;
}

void applyColumns(QTreeWidget* list, const std::vector<ListColumn>& columns)
{
    list->setColumnCount(static_cast<int>(columns.size()));
    list->header()->setMinimumSectionSize(1); // the hidden key columns are 0 or 1 pixel wide
    QStringList titles;
    for (const ListColumn& column : columns)
        titles << column.title;
    list->setHeaderLabels(titles);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        list->setColumnWidth(i, columns[i].width);
        list->headerItem()->setTextAlignment(i, columns[i].alignment | Qt::AlignVCenter);
        list->setColumnHidden(i, !columns[i].shown);
    }
    list->header()->setStretchLastSection(false);
}

void sortOnHeaderClick(QTreeWidget* list)
{
    QHeaderView* header = list->header();
    header->setSectionsClickable(true);
    QObject::connect(header, &QHeaderView::sectionClicked, list, [list, header](int column) {
        if (list->isSortingEnabled())
            return; // Qt turns the order on every later click
        list->setSortingEnabled(true);
        header->setSortIndicator(column, Qt::AscendingOrder);
        list->sortItems(column, Qt::AscendingOrder);
    });
}

} // namespace vandry
