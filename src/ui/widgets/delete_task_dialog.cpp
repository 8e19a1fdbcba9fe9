#include "ui/widgets/delete_task_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vandry {

DeleteTaskDialog::DeleteTaskDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("删除任务"));
    auto* layout = new QVBoxLayout(this);
    question_ = new QLabel(QStringLiteral("确认要删除该任务记录吗？"));
    layout->addWidget(question_);
    deleteFiles_ = new QCheckBox(QStringLiteral("同时删除文件"));
    layout->addWidget(deleteFiles_);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

bool DeleteTaskDialog::deleteFiles() const
{
    return deleteFiles_->isChecked();
}

} // namespace vandry
