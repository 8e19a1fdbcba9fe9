#include "controls/rich_tooltip.h"

#include <QColor>
#include <QToolTip>
#include <QWidget>

namespace vandry {

namespace {
QString colourFromTag(const QString& value)
{
    bool ok = false;
    const uint bgr = value.toUInt(&ok, 0);
    if (!ok)
        return {};
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF).name();
}
} // namespace

QString tooltipMarkupToHtml(std::string_view markup)
{
    const QString text = QString::fromUtf8(markup.data(), static_cast<qsizetype>(markup.size()));
    QString body;
    bool centred = false;
    int openSpans = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype close = text[i] == QLatin1Char('<') ? text.indexOf(QLatin1Char('>'), i) : -1;
        const qsizetype nextOpen = text.indexOf(QLatin1Char('<'), i + 1);
        if (nextOpen >= 0 && nextOpen < close)
            close = -1; // a "<" that opens no tag is text
        if (close < 0) {
            body += text[i] == QLatin1Char('<') ? QStringLiteral("&lt;") : QString(text[i]).toHtmlEscaped();
            ++i;
            continue;
        }
        const QString tag = text.mid(i + 1, close - i - 1).trimmed().toLower();
        if (tag == QLatin1String("b"))
            body += QStringLiteral("<b>");
        else if (tag == QLatin1String("/b"))
            body += QStringLiteral("</b>");
        else if (tag.startsWith(QLatin1String("ct="))) {
            const QString colour = colourFromTag(tag.mid(3));
            if (!colour.isEmpty()) {
                body += QStringLiteral("<span style=\"color:%1\">").arg(colour);
                ++openSpans;
            }
        } else if (tag == QLatin1String("/ct") && openSpans > 0) {
            body += QStringLiteral("</span>");
            --openSpans;
        } else if (tag == QLatin1String("al_c"))
            centred = true;
        i = close + 1;
    }
    while (openSpans-- > 0)
        body += QStringLiteral("</span>");
    return QStringLiteral("<p align=\"%1\">%2</p>")
        .arg(centred ? QStringLiteral("center") : QStringLiteral("left"), body);
}

void showRichTooltip(QWidget* anchor, std::string_view markup)
{
    const QPoint centre = anchor->mapToGlobal(anchor->rect().center());
    QToolTip::showText(centre, tooltipMarkupToHtml(markup), anchor);
}

} // namespace vandry
