#include <gtest/gtest.h>

#include "app/settings_form.h"
#include "controls/rich_tooltip.h"

using namespace vandry;

TEST(RichTooltip, TurnsTheMarkupIntoCentredBoldColouredText)
{
    const QString html = tooltipMarkupToHtml(kTipShareEmpty);
    EXPECT_TRUE(html.startsWith(QStringLiteral("<p align=\"center\">")));
    EXPECT_TRUE(html.contains(QStringLiteral("<b>")));
    EXPECT_TRUE(html.contains(QStringLiteral("color:#00aa00")));
    EXPECT_TRUE(html.contains(QStringLiteral("请选出要共享的目录。")));
}

TEST(RichTooltip, ReadsColoursInBlueGreenRedOrderAndEscapesText)
{
    EXPECT_TRUE(tooltipMarkupToHtml("<ct=0x0000FF>x</ct>").contains(QStringLiteral("#ff0000")));
    const QString html = tooltipMarkupToHtml("a < b & <unknown>c");
    EXPECT_TRUE(html.contains(QStringLiteral("a &lt; b &amp; c"))) << html.toStdString();
    EXPECT_TRUE(html.startsWith(QStringLiteral("<p align=\"left\">")));
    // An unterminated tag and an unclosed colour never produce broken mark-up.
    EXPECT_TRUE(tooltipMarkupToHtml("<ct=0x112233>open <b").endsWith(QStringLiteral("</span></p>")));
}
