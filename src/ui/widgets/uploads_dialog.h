#pragma once

#include <QDialog>
#include <vector>

#include "ui/main_window_model.h"

class QTreeWidget;

namespace vandry {

// "正在上传": one row per file a neighbour is fetching from this copy, refreshed while open.
class UploadsDialog : public QDialog {
public:
    explicit UploadsDialog(QWidget* parent = nullptr);
    // Shows `uploads`, opening the dialog if it is closed.
    void showUploads(const std::vector<UploadRow>& uploads);
    QTreeWidget* list() const { return list_; }

private:
    QTreeWidget* list_ = nullptr;
};

} // namespace vandry
