#include "ui/widgets/block_bar.h"

#include <QPainter>

namespace vandry {

void BlockBar::setLayers(BlockBarLayers layers)
{
    if (layers == layers_)
        return;
    layers_ = std::move(layers);
    update();
}

void BlockBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect().adjusted(1, 2, -1, -2);
    painter.fillRect(area, palette().color(QPalette::Base));
    if (layers_.blockCount > 0) {
        const double scale = static_cast<double>(area.width()) / layers_.blockCount;
        // At least a pixel, so that a single block still shows.
        const auto paint = [&](BlockRange range, const QColor& colour, int inset) {
            if (range.end <= range.start)
                return;
            const int left = area.left() + static_cast<int>(range.start * scale);
            const int width = std::max(1, static_cast<int>((range.end - range.start) * scale));
            painter.fillRect(QRect(left, area.top() + inset, width, area.height() - 2 * inset), colour);
        };
        for (const BlockRange& range : layers_.held)
            paint(range, QColor(0x2F, 0x6F, 0xB5), 0);
        paint(layers_.range, QColor(0x9C, 0xD8, 0x8C), 2);
        paint(layers_.pending, QColor(0xF2, 0xB1, 0x34), 2);
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
}

} // namespace vandry
