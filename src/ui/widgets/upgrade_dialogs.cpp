#include "ui/widgets/upgrade_dialogs.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vandry {

namespace {
QString linkText(const std::string& url, const QString& text)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(QString::fromStdString(url).toHtmlEscaped(), text);
}
} // namespace

UpgradePromptDialog::UpgradePromptDialog(const UpgradeOffer& offer, PromptMode mode, QWidget* parent)
    : QDialog(parent), link_(new QLabel), message_(new QLabel), progress_(new QProgressBar),
      upgrade_(new QPushButton(QStringLiteral("升级")))
{
    setWindowTitle(QStringLiteral("新版本升级提示"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/vandry.svg")));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    link_->setText(linkText(offer.pageUrl, mode == PromptMode::Automatic
                                               ? QStringLiteral("检测到新版本,正在下载升级，请稍等...")
                                               : QStringLiteral("检测到有新版本,现在开始自动下载并升级吗？")));
    link_->setOpenExternalLinks(true);
    link_->setTextInteractionFlags(Qt::TextBrowserInteraction);
    message_->setWordWrap(true);
    message_->hide();
    progress_->setRange(0, 1);
    progress_->setValue(0);
    upgrade_->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(link_);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(new QLabel(QStringLiteral("下载:")));
    progressRow->addWidget(progress_, 1);
    layout->addLayout(progressRow);
    layout->addWidget(message_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(upgrade_);
    layout->addLayout(buttons);

    connect(upgrade_, &QPushButton::clicked, this, [this] {
        downloadStarted();
        emit upgradeRequested();
    });
    if (mode == PromptMode::Automatic)
        downloadStarted();
    if (mode == PromptMode::NotReplaceable) {
        upgrade_->setEnabled(false);
        showOutcome(UpgradeRefusal::NotReplaceable);
    }
    if (offer.timeLimitMs != 0) {
        timeLimit_.setSingleShot(true);
        timeLimit_.setInterval(static_cast<int>(offer.timeLimitMs));
        connect(&timeLimit_, &QTimer::timeout, this, &UpgradePromptDialog::timeLimitReached);
        timeLimit_.start();
    }
}

void UpgradePromptDialog::downloadStarted()
{
    downloading_ = true;
    upgrade_->setEnabled(false);
}

void UpgradePromptDialog::showProgress(qint64 received, qint64 total)
{
    // The bar counts KiB so that files past 2 GiB fit its int range.
    progress_->setRange(0, static_cast<int>(std::max<qint64>(total, 1) / 1024 + 1));
    progress_->setValue(static_cast<int>(std::clamp<qint64>(received, 0, std::max<qint64>(total, 0)) / 1024));
}

void UpgradePromptDialog::showOutcome(UpgradeRefusal refusal)
{
    downloading_ = false;
    message_->setText(QString::fromStdString(upgradeRefusalPromptText(refusal)));
    message_->show();
    if (refusal == UpgradeRefusal::None)
        progress_->setValue(progress_->maximum());
}

void UpgradePromptDialog::timeLimitReached()
{
    if (!downloading_)
        reject();
}

UpgradePrompts::~UpgradePrompts()
{
    closeUpgradePrompt();
}

void UpgradePrompts::openUpgradePrompt(const UpgradeOffer& offer, PromptMode mode, UpgradeFlow& flow)
{
    closeUpgradePrompt();
    dialog_ = new UpgradePromptDialog(offer, mode);
    dialog_->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog_, &UpgradePromptDialog::upgradeRequested, dialog_, [&flow] { flow.consent(); });
    QObject::connect(dialog_, &QDialog::finished, dialog_, [&flow] { flow.promptClosed(); });
    dialog_->show();
    dialog_->raise();
}

void UpgradePrompts::showUpgradeProgress(qint64 received, qint64 total)
{
    if (dialog_)
        dialog_->showProgress(received, total);
}

void UpgradePrompts::showUpgradeOutcome(UpgradeRefusal refusal)
{
    if (dialog_)
        dialog_->showOutcome(refusal);
}

void UpgradePrompts::closeUpgradePrompt()
{
    if (!dialog_)
        return;
    dialog_->disconnect();
    delete dialog_;
}

UpgradeProgressDialog::UpgradeProgressDialog(QWidget* parent) : QDialog(parent, Qt::FramelessWindowHint)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("正在升级软件版本...")));
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

UpgradeProgressDialog::~UpgradeProgressDialog()
{
    QApplication::restoreOverrideCursor();
}

} // namespace vandry
