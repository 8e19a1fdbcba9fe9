#pragma once
// Resolves a download request's path to a file inside the served folder.

#include <QString>

#include <optional>
#include <string_view>

namespace vandry {

// The canonical path of the regular, readable file that `encodedPath` names inside the folder
// `canonicalRoot` (itself canonical), with symbolic links resolved and the result still inside the
// folder. nullopt for anything else: a bad name (served_path.h), a missing file, a folder, a link
// that leads out.
std::optional<QString> servedFile(const QString& canonicalRoot, std::string_view encodedPath);

} // namespace vandry
