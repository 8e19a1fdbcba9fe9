#include "ui/widgets/status_strip.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include "common/format_size.h"
#include "ui/widgets/uploads_dialog.h"

namespace vandry {

namespace {
QString qs(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

StatusStrip::StatusStrip(const MainWindowModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    activity_ = new QLabel;
    figures_ = new QLabel;
    uploadsButton_ = new QPushButton;
    uploadsButton_->setFlat(true);
    uploadsButton_->setToolTip(QStringLiteral("谁在下载本机的哪些文件"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->addWidget(activity_, 1);
    layout->addWidget(figures_);
    layout->addWidget(uploadsButton_);
    connect(uploadsButton_, &QPushButton::clicked, this, [this] {
        if (!uploadsDialog_)
            uploadsDialog_ = new UploadsDialog(this);
        uploadsDialog_->showUploads(model_.uploads());
    });
    refresh();
}

void StatusStrip::refresh()
{
    const StatusFigures figures = model_.statusFigures();
    activity_->setText(qs(model_.searchStatus()));
    figures_->setText(QStringLiteral("%1　邻居 %2　下载 %3　上传 %4")
                          .arg(figures.serverReached ? QStringLiteral("服务器已连接") : QStringLiteral("服务器未连接"),
                               QString::number(figures.neighbours), qs(formatRate(figures.downloadRate)),
                               qs(formatRate(figures.uploadRate))));
    uploadsButton_->setText(QStringLiteral("正在上传 %1 个文件").arg(model_.uploads().size()));
    if (uploadsDialog_ && uploadsDialog_->isVisible())
        uploadsDialog_->showUploads(model_.uploads());
}

} // namespace vandry
