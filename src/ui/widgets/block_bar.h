#pragma once
// A link's progress bar in the task property dialog, drawn over the file's block count in three
// layers: the blocks the local copy holds, the range the link was given, and the part of that
// range still to come.

#include <QWidget>
#include <cstdint>
#include <vector>

#include "link/block_map.h"

namespace vandry {

struct BlockBarLayers {
    std::uint32_t blockCount = 0;
    std::vector<BlockRange> held;
    BlockRange range;   // what the link was given
    BlockRange pending; // the rest of it, from the link's position
    bool operator==(const BlockBarLayers&) const = default;
};

class BlockBar : public QWidget {
public:
    explicit BlockBar(QWidget* parent = nullptr) : QWidget(parent) {}
    void setLayers(BlockBarLayers layers);
    const BlockBarLayers& layers() const { return layers_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BlockBarLayers layers_;
};

} // namespace vandry
