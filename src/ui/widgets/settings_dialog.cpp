#include "ui/widgets/settings_dialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QUrl>

#include "common/version.h"
#include "controls/rich_tooltip.h"

namespace vandry {

namespace {
QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QLineEdit* rootEdit(const std::string& value)
{
    auto* edit = new QLineEdit(QString::fromStdString(value));
    edit->setMaxLength(static_cast<int>(kMaxRootLength));
    return edit;
}
} // namespace

SettingsDialog::SettingsDialog(SettingsForm& form, QWidget* parent) : QDialog(parent), form_(form)
{
    setWindowTitle(QStringLiteral("参数配置"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    confirmCreate = [this](const QString& folder) {
        QMessageBox question(QMessageBox::Question, windowTitle(),
                             QStringLiteral("下载目录“%1”不存在，要创建它吗？").arg(folder), QMessageBox::NoButton,
                             this);
        QPushButton* create = question.addButton(QStringLiteral("创建"), QMessageBox::AcceptRole);
        question.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        question.exec();
        return question.clickedButton() == create;
    };
    const SettingsView view = form_.open();

    nickname_ = new QLineEdit(QString::fromStdString(view.fields.nickname));
    share_ = rootEdit(view.fields.shareRoot);
    download_ = rootEdit(view.fields.downloadRoot);
    shareBrowse_ = new QPushButton(QStringLiteral("..."));
    downloadBrowse_ = new QPushButton(QStringLiteral("..."));
    autorun_ = new QCheckBox(QStringLiteral("登录桌面后自动启动"));
    autorun_->setChecked(view.autorun);

    // The channel slider exists but stays hidden, as it always has.
    channelSlider_ = new QSlider(Qt::Horizontal);
    channelSlider_->setRange(kChannelSliderMin, kChannelSliderMax);
    channelText_ = new QLineEdit(QString::number(channelSlider_->value()));
    uploadSlider_ = new QSlider(Qt::Horizontal);
    uploadSlider_->setRange(0, kUploadSliderMax);
    uploadSlider_->setPageStep(1);
    uploadSlider_->setValue(view.uploadPosition);
    uploadText_ = new QLineEdit(QString::fromStdString(view.uploadText));
    uploadText_->setReadOnly(true);
    channelSlider_->hide();
    channelText_->hide();

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("显示网名:")), 0, 0);
    grid->addWidget(nickname_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("共享目录:")), 1, 0);
    grid->addWidget(share_, 1, 1);
    grid->addWidget(shareBrowse_, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("下载目录:")), 2, 0);
    grid->addWidget(download_, 2, 1);
    grid->addWidget(downloadBrowse_, 2, 2);
    grid->addWidget(autorun_, 3, 0, 1, 3);
    grid->addWidget(channelSlider_, 4, 0, 1, 2);
    grid->addWidget(channelText_, 4, 2);
    grid->addWidget(new QLabel(QStringLiteral("上传限速:")), 5, 0);
    grid->addWidget(uploadSlider_, 5, 1);
    grid->addWidget(uploadText_, 5, 2);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(QStringLiteral("应用(&O)"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("取消(&C)"), QDialogButtonBox::RejectRole);
    grid->addWidget(buttons, 6, 0, 1, 3);
    grid->setColumnMinimumWidth(1, 260);

    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(shareBrowse_, &QPushButton::clicked, this, [this] { browse(share_, kPickShareTitle); });
    connect(downloadBrowse_, &QPushButton::clicked, this, [this] { browse(download_, kPickDownloadTitle); });
    connect(autorun_, &QCheckBox::toggled, this, [this](bool on) { form_.setAutorun(on); });
    connect(uploadSlider_, &QSlider::valueChanged, this,
            [this](int position) { uploadText_->setText(QString::fromStdString(form_.moveUploadSlider(position))); });
    connect(channelSlider_, &QSlider::valueChanged, this,
            [this](int position) { channelText_->setText(QString::number(position)); });
    raise();
    activateWindow();
}

void SettingsDialog::browse(QLineEdit* edit, std::string_view title)
{
    const QString chosen = QFileDialog::getExistingDirectory(this, qs(title), edit->text());
    if (!chosen.isEmpty())
        edit->setText(chosen);
}

void SettingsDialog::accept()
{
    const ApplyOutcome outcome =
        form_.apply({nickname_->text().toStdString(), share_->text().toStdString(), download_->text().toStdString()});
    announce_ = announce_ || outcome.announce;
    shareChanged_ = shareChanged_ || outcome.shareChanged;
    download_->setText(QString::fromStdString(outcome.fields.downloadRoot));
    switch (outcome.result) {
    case ApplyOutcome::Result::Closed:
        QDialog::accept();
        return;
    case ApplyOutcome::Result::ShareEmpty:
        lastTip_ = qs(outcome.tip);
        showRichTooltip(share_, outcome.tip);
        return;
    case ApplyOutcome::Result::ShareInvalid:
        lastTip_ = qs(outcome.tip);
        showRichTooltip(shareBrowse_, outcome.tip);
        return;
    case ApplyOutcome::Result::DownloadMissing:
        if (!confirmCreate(download_->text()))
            return;
        if (form_.createDownloadFolder(outcome.fields.downloadRoot)) {
            accept();
            return;
        }
        lastTip_ = qs(kTipDownloadNotCreated);
        showRichTooltip(downloadBrowse_, kTipDownloadNotCreated);
        return;
    case ApplyOutcome::Result::DownloadNotWritable:
        lastTip_ = qs(outcome.tip);
        showRichTooltip(downloadBrowse_, outcome.tip);
        return;
    }
}

bool SettingsDialog::event(QEvent* event)
{
    // The caption's help button opens the help page instead of "What's This?" mode.
    if (event->type() == QEvent::EnterWhatsThisMode) {
        QDesktopServices::openUrl(QUrl(qs(kHelpPageUrl)));
        return true;
    }
    return QDialog::event(event);
}

} // namespace vandry
