#include "ui/window_layout.h"

#include <algorithm>

namespace vandry {

ControlRects layoutControls(const ControlRects& saved, bool maximized, int W, int H)
{
    if (!maximized)
        return saved;
    using C = LayoutControl;
    const Rect& files = at(saved, C::FileList);
    const Rect& tasks = at(saved, C::TaskList);
    const Rect& neighbours = at(saved, C::NeighbourList);
    const Rect& search = at(saved, C::SearchBox);
    const Rect& settings = at(saved, C::SettingsButton);
    const Rect& about = at(saved, C::AboutButton);
    ControlRects placed = saved;
    at(placed, C::FileList) = {files.x + 41, files.y, W - files.x - 81, H - files.y - 155};
    at(placed, C::TaskList) = {tasks.x + 41, H - 155, W - files.x - 81, 125};
    at(placed, C::NeighbourList) = {neighbours.x, neighbours.y, neighbours.width + 41, H - neighbours.y - 60};
    at(placed, C::SearchBox) = {search.x, H - 53, search.width + 41, search.height};
    at(placed, C::SettingsButton) = {W - 34, settings.y, settings.width, settings.height};
    at(placed, C::AboutButton) = {W - 34, about.y, about.width, about.height};
    return placed;
}

ColumnWidths columnWidths(const ControlRects& placed)
{
    ColumnWidths widths;
    widths.fileName = std::max(40, at(placed, LayoutControl::FileList).width - kFileSizeColumnWidth - 20);
    const int neighbourWidth = at(placed, LayoutControl::NeighbourList).width;
    widths.neighbourName = neighbourWidth < 100 ? neighbourWidth - 2 : neighbourWidth - 15;
    const int free = at(placed, LayoutControl::TaskList).width - kTaskStateColumnWidth - kTaskProgressColumnWidth -
                     kTaskRateColumnWidth;
    widths.taskName = free <= 500 ? free / 2 : 250;
    widths.taskInfo = std::max(0, free - widths.taskName - 28);
    return widths;
}

} // namespace vandry
