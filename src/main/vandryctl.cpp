// vandryctl: drives a running Vandry copy from the command line.

#include <QCoreApplication>

#include "qt/control_client.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vandryctl"));
    return vandry::runControlClient(QCoreApplication::arguments());
}
