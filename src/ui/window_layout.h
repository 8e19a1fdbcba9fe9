#pragma once
// Where the main window's controls go. The window template gives the margins, the neighbour
// list's width and the buttons; at any size the file and task lists share what is left, the
// task list two fifths of the height, and the buttons stay at the right edge. After every size
// change the first columns take what is free.

#include <array>

namespace vandry {

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Rect&) const = default;
};

enum class LayoutControl { FileList, NeighbourList, TaskList, SearchBox, SettingsButton, AboutButton, Count };
using ControlRects = std::array<Rect, static_cast<std::size_t>(LayoutControl::Count)>;

struct ColumnWidths {
    int fileName = 0;      // file list column 0
    int neighbourName = 0; // neighbour list column 0
    int taskName = 0;      // task list column 0
    int taskInfo = 0;      // task list column 3, the last shown
    bool operator==(const ColumnWidths&) const = default;
};

inline constexpr int kFileSizeColumnWidth = 55;
inline constexpr int kTaskStateColumnWidth = 70;
inline constexpr int kTaskProgressColumnWidth = 64;
inline constexpr int kTaskRateColumnWidth = 72;
inline constexpr int kTaskSizeColumnWidth = 130;
inline constexpr int kTaskRemainingColumnWidth = 64;
inline constexpr int kTaskSourcesColumnWidth = 40;

// `saved` holds the template rectangles; W and H are the size the controls may fill.
ControlRects layoutControls(const ControlRects& saved, int clientWidth, int clientHeight);
ColumnWidths columnWidths(const ControlRects& placed);

inline Rect& at(ControlRects& rects, LayoutControl c)
{
    return rects[static_cast<std::size_t>(c)];
}
inline const Rect& at(const ControlRects& rects, LayoutControl c)
{
    return rects[static_cast<std::size_t>(c)];
}

} // namespace vandry
