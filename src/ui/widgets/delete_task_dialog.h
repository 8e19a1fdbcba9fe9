#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;

namespace vandry {

// "删除任务": asks before a task row goes, and whether its file goes with it.
class DeleteTaskDialog : public QDialog {
    Q_OBJECT
public:
    explicit DeleteTaskDialog(QWidget* parent = nullptr);

    // "同时删除文件" was ticked.
    bool deleteFiles() const;

    QLabel* question() const { return question_; }
    QCheckBox* deleteFilesBox() const { return deleteFiles_; }

private:
    QLabel* question_ = nullptr;
    QCheckBox* deleteFiles_ = nullptr;
};

} // namespace vandry
