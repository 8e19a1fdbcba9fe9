#include "ui/window_layout.h"

#include <algorithm>

namespace vandry {

ControlRects layoutControls(const ControlRects& saved, int W, int H)
{
    using C = LayoutControl;
    const Rect& files = at(saved, C::FileList);
    const Rect& tasks = at(saved, C::TaskList);
    const Rect& neighbours = at(saved, C::NeighbourList);
    const Rect& search = at(saved, C::SearchBox);
    const Rect& settings = at(saved, C::SettingsButton);
    const Rect& about = at(saved, C::AboutButton);
    // Margins and gaps stay as the template has them; the lists take whatever the window gives.
    const int margin = neighbours.x;
    const int gap = std::max(1, tasks.y - (files.y + files.height));
    const int buttonGap = settings.x - (files.x + files.width);
    const int bottom = H - margin;
    const int buttonsX = W - margin - settings.width;
    const int listsWidth = std::max(1, buttonsX - buttonGap - files.x);
    const int listsHeight = std::max(2, bottom - files.y - gap);
    // The task list shows several rows at any height, and more as the window grows.
    const int tasksHeight = std::min(std::max(tasks.height, listsHeight * 2 / 5), listsHeight - listsHeight / 3);
    ControlRects placed = saved;
    at(placed, C::FileList) = {files.x, files.y, listsWidth, listsHeight - tasksHeight};
    at(placed, C::TaskList) = {files.x, files.y + listsHeight - tasksHeight + gap, listsWidth, tasksHeight};
    at(placed, C::SearchBox) = {search.x, bottom - search.height, search.width, search.height};
    at(placed, C::NeighbourList) = {neighbours.x, neighbours.y, neighbours.width,
                                    std::max(1, bottom - search.height - gap - neighbours.y)};
    at(placed, C::SettingsButton) = {buttonsX, settings.y, settings.width, settings.height};
    at(placed, C::AboutButton) = {buttonsX, about.y, about.width, about.height};
    return placed;
}

ColumnWidths columnWidths(const ControlRects& placed)
{
    ColumnWidths widths;
    widths.fileName = std::max(40, at(placed, LayoutControl::FileList).width - kFileSizeColumnWidth - 20);
    const int neighbourWidth = at(placed, LayoutControl::NeighbourList).width;
    widths.neighbourName = neighbourWidth < 100 ? neighbourWidth - 2 : neighbourWidth - 15;
    const int free = at(placed, LayoutControl::TaskList).width - kTaskStateColumnWidth - kTaskProgressColumnWidth -
                     kTaskRateColumnWidth - kTaskSizeColumnWidth - kTaskRemainingColumnWidth - kTaskSourcesColumnWidth;
    // Too narrow a list scrolls sideways rather than squeeze the name and the information away.
    widths.taskName = free <= 500 ? std::max(120, free / 2) : 250;
    widths.taskInfo = std::max(80, free - widths.taskName - 28);
    return widths;
}

} // namespace vandry
