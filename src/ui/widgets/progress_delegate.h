#pragma once

#include <QStyledItemDelegate>

namespace vandry {

// Draws a task's progress text ("42%") as a progress bar with the text on it. Other texts (a
// folder task before it knows its size) show as they are.
class ProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace vandry
