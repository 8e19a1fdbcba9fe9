#pragma once
// The self-upgrade's two dialogs: the prompt "新版本升级提示" of a running copy that learned of a
// newer version, and the caption-less note the new copy shows while it replaces the old one.

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include "qt/upgrader.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vandry {

class UpgradePromptDialog final : public QDialog {
    Q_OBJECT
public:
    UpgradePromptDialog(const UpgradeOffer& offer, PromptMode mode, QWidget* parent = nullptr);

    // The download runs: "升级" stays disabled and the time limit no longer applies.
    void downloadStarted();
    void showProgress(qint64 received, qint64 total);
    // How the download ended; the prompt stays open to show it.
    void showOutcome(UpgradeRefusal refusal);
    // The time limit ran out: closes the prompt as if cancelled, unless the download runs.
    void timeLimitReached();

    QLabel* link() const { return link_; }
    QLabel* message() const { return message_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* upgradeButton() const { return upgrade_; }
    const QTimer& timeLimit() const { return timeLimit_; }

signals:
    void upgradeRequested();

private:
    QLabel* link_;
    QLabel* message_;
    QProgressBar* progress_;
    QPushButton* upgrade_;
    QTimer timeLimit_;
    bool downloading_ = false;
};

// Opens one prompt at a time for the running copy's upgrade flow.
class UpgradePrompts final : public UpgradePromptHost {
public:
    ~UpgradePrompts() override;
    void openUpgradePrompt(const UpgradeOffer& offer, PromptMode mode, UpgradeFlow& flow) override;
    void showUpgradeProgress(qint64 received, qint64 total) override;
    void showUpgradeOutcome(UpgradeRefusal refusal) override;
    void closeUpgradePrompt() override;

    UpgradePromptDialog* dialog() const { return dialog_; }

private:
    QPointer<UpgradePromptDialog> dialog_;
};

// "正在升级软件版本...": shown by the new copy while it waits and replaces the old executable.
class UpgradeProgressDialog final : public QDialog {
    Q_OBJECT
public:
    explicit UpgradeProgressDialog(QWidget* parent = nullptr);
    ~UpgradeProgressDialog() override;
};

} // namespace vandry
