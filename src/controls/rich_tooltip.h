#pragma once
// The program's small tooltip mark-up: "<b>" bold, "<ct=0xBBGGRR>" text colour (the byte
// order of a Windows colour value), "<al_c>" centred, and their closing tags.

#include <QString>
#include <string_view>

class QWidget;

namespace vandry {

// Rich text that Qt's tooltip renders: tags we do not know are dropped, text is escaped.
QString tooltipMarkupToHtml(std::string_view markup);

// Shows the mark-up in a tooltip centred on `anchor`.
void showRichTooltip(QWidget* anchor, std::string_view markup);

} // namespace vandry
