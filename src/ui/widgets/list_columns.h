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
// The task list shows columns 0, 1, 2, 8 and 3 in that order.
const std::vector<int>& taskDisplayOrder();

// Sets up the header of `list` with `columns`; hidden columns keep their data.
void applyColumns(QTreeWidget* list, const std::vector<ListColumn>& columns);

} // namespace vandry
