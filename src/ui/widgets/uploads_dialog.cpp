#include "ui/widgets/uploads_dialog.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "common/format_size.h"

namespace vandry {

namespace {
QString qs(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

UploadsDialog::UploadsDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("正在上传"));
    list_ = new QTreeWidget;
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels(
        {QStringLiteral("邻居"), QStringLiteral("文件"), QStringLiteral("已发送"), QStringLiteral("速率")});
    list_->setColumnWidth(0, 110);
    list_->setColumnWidth(1, 300);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    resize(640, 260);
}

void UploadsDialog::showUploads(const std::vector<UploadRow>& uploads)
{
    list_->clear();
    for (const UploadRow& upload : uploads) {
        auto* item = new QTreeWidgetItem({qs(upload.peer), qs(upload.file), qs(formatSize(upload.sentBytes)),
                                          qs(formatRate(upload.bytesPerSecond))});
        item->setToolTip(1, qs(upload.file));
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        list_->addTopLevelItem(item);
    }
    QDialog::show();
}

} // namespace vandry
