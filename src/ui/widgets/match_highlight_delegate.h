#pragma once

#include <QStringList>
#include <QStyledItemDelegate>

namespace vandry {

// Draws names with the parts that match the search marked, so a user sees why a result came.
class MatchHighlightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // The search as typed; its words are marked wherever they occur, regardless of case.
    // Wildcards separate words. Empty: nothing is marked.
    void setSearch(const QString& text);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QStringList words_;
};

} // namespace vandry
