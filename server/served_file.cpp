#include "server/served_file.h"

#include <QFileInfo>

#include "server/core/served_path.h"

namespace vandry {

std::optional<QString> servedFile(const QString& canonicalRoot, std::string_view encodedPath)
{
    const auto names = servedPathNames(encodedPath);
    if (!names || canonicalRoot.isEmpty())
        return std::nullopt;
    const QString prefix = canonicalRoot.endsWith('/') ? canonicalRoot : canonicalRoot + '/';
    QString path = prefix;
    for (const auto& name : *names)
        path += QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) + '/';
    path.chop(1);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty() || !canonical.startsWith(prefix))
        return std::nullopt;
    const QFileInfo target(canonical);
    if (!target.isFile() || !target.isReadable())
        return std::nullopt;
    return canonical;
}

} // namespace vandry
