// vandry: the program. With --headless (or --version, --help) it runs without a display.

#include <QApplication>
#include <QCoreApplication>
#include <cstring>
#include <memory>

#include "qt/headless_front_end.h"
#include "ui/widgets/window_front_end.h"

int main(int argc, char** argv)
{
    bool windowless = false;
    for (int i = 1; i < argc; ++i)
        for (const char* flag : {"--headless", "--version", "--help", "-h", "--help-all"})
            windowless = windowless || std::strcmp(argv[i], flag) == 0;
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss} %{if-warning}warning: %{endif}%{message}"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillomax Co"));
    QCoreApplication::setApplicationName(QStringLiteral("vandry"));
    QCoreApplication::setApplicationVersion(QStringLiteral("0.9"));

    std::unique_ptr<QCoreApplication> app;
    if (windowless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    const vandry::LaunchOptions options = vandry::parseLaunchOptions(QCoreApplication::arguments());
    return options.headless ? vandry::runHeadless(options) : vandry::runWindow(options);
}
