#include "ui/widgets/match_highlight_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QRegularExpression>

namespace vandry {

namespace {
// Character ranges of `text` covered by any of `words`, merged and in order.
QList<QPair<int, int>> matchedRanges(const QString& text, const QStringList& words)
{
    QList<QPair<int, int>> ranges;
    for (const QString& word : words)
        for (int at = text.indexOf(word, 0, Qt::CaseInsensitive); at >= 0;
             at = text.indexOf(word, at + word.size(), Qt::CaseInsensitive))
            ranges.append({at, at + static_cast<int>(word.size())});
    std::sort(ranges.begin(), ranges.end());
    QList<QPair<int, int>> merged;
    for (const auto& range : ranges) {
        if (!merged.isEmpty() && range.first <= merged.last().second)
            merged.last().second = std::max(merged.last().second, range.second);
        else
            merged.append(range);
    }
    return merged;
}
} // namespace

void MatchHighlightDelegate::setSearch(const QString& text)
{
    words_ = text.split(QRegularExpression(QStringLiteral("[\\s*?]+")), Qt::SkipEmptyParts);
}

void MatchHighlightDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString text = item.text;
    // A notice in the list ("没有找到…") is no result: it carries no item id and stays plain.
    const bool result = index.siblingAtColumn(0).data(Qt::UserRole).isValid();
    const auto ranges = result ? matchedRanges(text, words_) : QList<QPair<int, int>>{};
    if (ranges.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The style draws the row, the icon and the selection; the name is drawn here in pieces.
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    item.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    item.text = text;
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget).adjusted(2, 0, -2, 0);
    const QString shown = item.fontMetrics.elidedText(text, Qt::ElideRight, area.width());

    painter->save();
    painter->setClipRect(area);
    const bool selected = item.state & QStyle::State_Selected;
    const QColor normal = item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    QFont bold = item.font;
    bold.setBold(true);
    int x = area.left();
    int from = 0;
    const auto drawPiece = [&](int begin, int end, bool marked) {
        if (begin >= end || begin >= shown.size())
            return;
        const QString piece = shown.mid(begin, end - begin);
        const QFontMetrics metrics(marked ? bold : item.font);
        const int width = metrics.horizontalAdvance(piece);
        if (marked && !selected)
            painter->fillRect(QRect(x, area.top() + 1, width, area.height() - 2), QColor(255, 230, 120));
        painter->setFont(marked ? bold : item.font);
        painter->setPen(normal);
        painter->drawText(QRect(x, area.top(), width + 1, area.height()), Qt::AlignVCenter | Qt::AlignLeft, piece);
        x += width;
    };
    for (const auto& [begin, end] : ranges) {
        drawPiece(from, begin, false);
        drawPiece(begin, end, true);
        from = end;
    }
    drawPiece(from, static_cast<int>(shown.size()), false);
    painter->restore();
}

} // namespace vandry
