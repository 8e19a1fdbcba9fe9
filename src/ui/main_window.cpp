#include "ui/main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "common/version.h"
#include "qt/copy_runtime.h"
#include "ui/about_dialog.h"
#include "ui/settings_dialog.h"

namespace vandry {

namespace {
QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

MainWindow::MainWindow(CopyRuntime& runtime, QWidget* parent) : QWidget(parent), runtime_(runtime)
{
    setWindowTitle(qs(kVersionText));
    resize(720, 520);

    // A Linux window has no system menu to extend, so the same entries sit behind a menu button.
    auto* menuButton = new QToolButton;
    menuButton->setText(QStringLiteral("菜单"));
    menuButton->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(menuButton);
    const auto addEntry = [this, menu](const QString& text, WindowCommand command) {
        QAction* action = menu->addAction(text);
        action->setData(static_cast<int>(command));
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
    };
    menu->addSeparator();
    addEntry(QStringLiteral("使用帮助 (&H)..."), WindowCommand::Help);
    addEntry(QStringLiteral("关于Vandry (&A)..."), WindowCommand::About);
    menu->addSeparator();
    addEntry(QStringLiteral("退出程序 (&X)"), WindowCommand::Exit);
    menuButton->setMenu(menu);

    auto* settingsButton = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogDetailedView), QString());
    settingsButton->setToolTip(QStringLiteral("参数配置"));
    connect(settingsButton, &QPushButton::clicked, this, [this] { openSettings(); });
    auto* aboutButton = new QPushButton(style()->standardIcon(QStyle::SP_MessageBoxInformation), QString());
    aboutButton->setToolTip(QStringLiteral("关于Vandry"));
    connect(aboutButton, &QPushButton::clicked, this, [this] { runCommand(WindowCommand::About); });

    auto* side = new QVBoxLayout;
    side->addWidget(menuButton);
    side->addWidget(settingsButton);
    side->addWidget(aboutButton);
    side->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addStretch();
    layout->addLayout(side);

    connect(&runtime_, &CopyRuntime::stopped, this, [this] {
        stopping_ = true;
        close();
    });
}

void MainWindow::runCommand(WindowCommand command)
{
    switch (command) {
    case WindowCommand::Exit:
        runtime_.stop();
        return;
    case WindowCommand::Help:
        QDesktopServices::openUrl(QUrl(qs(kHelpPageUrl)));
        return;
    case WindowCommand::About: {
        AboutDialog about(this);
        about.exec();
        return;
    }
    }
}

bool MainWindow::openSettings()
{
    SettingsDialog dialog(runtime_.settingsForm(), isVisible() ? this : nullptr);
    const bool applied = dialog.exec() == QDialog::Accepted;
    if (dialog.announceRequested())
        emit runtime_.announceRequested();
    return applied;
}

void MainWindow::bringToFront()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Until the notification icon exists, closing the window is the way out: run the stop sequence.
    if (!stopping_) {
        event->ignore();
        runtime_.stop();
        return;
    }
    event->accept();
}

} // namespace vandry
