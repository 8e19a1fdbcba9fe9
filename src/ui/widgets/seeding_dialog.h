#pragma once
// "SEEDING": the sources of one file being downloaded, with their states and ages, refreshed while
// the dialog is open; "RST" has the sources that said no asked again.

#include <QDialog>

#include "common/clock.h"
#include "discovery/neighbour_table.h"
#include "link/link_records.h"
#include "tasks/seed_table.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace vandry {

class SeedingDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRefreshIntervalMs = 1200;

    SeedingDialog(SeedTable& seeds, const NeighbourTable& neighbours, const Clock& clock, const SourceInfo& key,
                  QWidget* parent = nullptr);

    // Merges the table's entries into the list: rows of current sources are updated in place,
    // new ones appended, rows of sources that are gone removed. Run at opening and by the timer.
    void refresh();

    // For tests.
    QTreeWidget* sourceList() const { return list_; }
    QLabel* sizeText() const { return size_; }
    QLabel* digestText() const { return digest_; }
    QLabel* refreshText() const { return refreshAge_; }
    QPushButton* resetButton() const { return reset_; }
    QTimer* refreshTimer() const { return timer_; }

private:
    SeedTable& seeds_;
    const NeighbourTable& neighbours_;
    const Clock& clock_;
    const SourceInfo key_;
    QLabel* size_;
    QLabel* digest_;
    QLabel* refreshAge_;
    QPushButton* reset_;
    QTreeWidget* list_;
    QTimer* timer_;
};

} // namespace vandry
