#pragma once
// vandryctl: sends one request to a running copy through its local socket and prints the answer.

#include <QJsonObject>
#include <QStringList>
#include <optional>

#include "qt/home_paths.h"

namespace vandry {

// Sends `request` as one JSON line and waits for the answer line; nullopt when no copy answers.
std::optional<QJsonObject> sendControlRequest(const HomePaths& home, const QJsonObject& request, QString* error);

// The answer as the text vandryctl prints for `command`.
QString renderControlAnswer(const QString& command, const QJsonObject& answer);

// The whole program; returns its exit code.
int runControlClient(const QStringList& arguments);

} // namespace vandry
