#pragma once
// "参数配置": nickname, share folder, download folder and log-on start.

#include <QDialog>
#include <functional>

#include "app/settings_form.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;

namespace vandry {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(SettingsForm& form, QWidget* parent = nullptr);

    // Set after the dialog closed through apply.
    bool announceRequested() const { return announce_; }
    bool shareChanged() const { return shareChanged_; }

    // For tests: the controls by their resource ids.
    QLineEdit* nicknameEdit() const { return nickname_; }
    QLineEdit* shareEdit() const { return share_; }
    QLineEdit* downloadEdit() const { return download_; }
    QCheckBox* autorunBox() const { return autorun_; }
    QPushButton* shareBrowseButton() const { return shareBrowse_; }
    QString lastTip() const { return lastTip_; }
    // Asks whether to create a missing download folder; tests answer without a message box.
    std::function<bool(const QString& folder)> confirmCreate;

public slots:
    void accept() override;

protected:
    bool event(QEvent* event) override;

private:
    void browse(QLineEdit* edit, std::string_view title);

    SettingsForm& form_;
    QLineEdit* nickname_;
    QLineEdit* share_;
    QLineEdit* download_;
    QPushButton* shareBrowse_;
    QPushButton* downloadBrowse_;
    QCheckBox* autorun_;
    QSlider* channelSlider_;
    QLineEdit* channelText_;
    QSlider* uploadSlider_;
    QLineEdit* uploadText_;
    QString lastTip_;
    bool announce_ = false;
    bool shareChanged_ = false;
};

} // namespace vandry
