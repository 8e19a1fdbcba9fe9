#include "ui/widgets/about_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/version.h"

namespace vandry {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("关于Vandry"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromUtf8(kVersionText.data(), static_cast<qsizetype>(kVersionText.size())) +
                                 QStringLiteral(" 版")));
    layout->addWidget(new QLabel(QStringLiteral("局域网与互联网上的点对点文件共享")));
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                .arg(QString::fromUtf8(kMakerPageUrl.data(), kMakerPageUrl.size()),
                                     QString::fromUtf8(kMakerName.data(), kMakerName.size())));
    link->setOpenExternalLinks(true);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    layout->addWidget(link);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace vandry
