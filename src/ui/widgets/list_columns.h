#pragma once
// The columns of the window's three lists: titles, widths, alignment, and which are shown.

#include <QStringList>
#include <vector>

class QTreeWidget;

namespace vandry {

struct ListColumn {
    QString title;
    int width = 0;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool shown = true;
};

const std::vector<ListColumn>& neighbourColumns();
const std::vector<ListColumn>& fileColumns();
const std::vector<ListColumn>& taskColumns();
// Beyond the task row's twelve columns, the task list shows figures of its own.
enum TaskFigureColumn { kTaskSizeShown = 12, kTaskRemainingShown = 13, kTaskSourcesShown = 14 };
// The task list shows name, state, progress, size, rate, time left, sources and information.
const std::vector<int>& taskDisplayOrder();

// Sets up the header of `list` with `columns`; hidden columns keep their data.
void applyColumns(QTreeWidget* list, const std::vector<ListColumn>& columns);
// A click on a column title sorts the list by that column, a second click the other way round.
// Until the first click the list keeps its own order.
void sortOnHeaderClick(QTreeWidget* list);

} // namespace vandry
