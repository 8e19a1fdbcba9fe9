#include "server/server_log.h"

#include <QDateTime>

#include <cstdio>

namespace vandry {

void logLine(const std::string& text)
{
    const QByteArray stamp = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8();
    std::fprintf(stderr, "%s %s\n", stamp.constData(), text.c_str());
    std::fflush(stderr);
}

} // namespace vandry
