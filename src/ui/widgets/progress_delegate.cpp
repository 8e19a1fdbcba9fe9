#include "ui/widgets/progress_delegate.h"

#include <QApplication>
#include <QPainter>

namespace vandry {

namespace {
// 0..100 from "NN%", or -1.
int percentOf(const QString& text)
{
    if (!text.endsWith(QLatin1Char('%')))
        return -1;
    bool ok = false;
    const int percent = text.chopped(1).toInt(&ok);
    return ok && percent >= 0 && percent <= 100 ? percent : -1;
}
} // namespace

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QString text = index.data().toString();
    const int percent = percentOf(text);
    if (percent < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The selection shows behind the bar.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(2, 2, -2, -2);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent;
    bar.text = text;
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.palette = option.palette;
    bar.fontMetrics = option.fontMetrics;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

QSize ProgressDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // Wide enough for "100%" on the bar, whatever the column shows now.
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(std::max(size.width(), option.fontMetrics.horizontalAdvance(QStringLiteral("100%")) + 16));
    return size;
}

} // namespace vandry
