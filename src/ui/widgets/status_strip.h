#pragma once

#include <QWidget>

#include "ui/main_window_model.h"

class QLabel;
class QPushButton;

namespace vandry {

class UploadsDialog;

// The line under the lists: what a search is doing on the left; the server, the neighbours and
// the total rates on the right, and a button that lists who is fetching what from this copy.
class StatusStrip : public QWidget {
    Q_OBJECT
public:
    explicit StatusStrip(const MainWindowModel& model, QWidget* parent = nullptr);
    void refresh();

private:
    const MainWindowModel& model_;
    QLabel* activity_ = nullptr;
    QLabel* figures_ = nullptr;
    QPushButton* uploadsButton_ = nullptr;
    UploadsDialog* uploadsDialog_ = nullptr;
};

} // namespace vandry
