#pragma once
// vandryctl's requests, one JSON object per line: {"cmd": "status" | "neighbours" | "announce" |
// "download" | "tasks" | "quit", "args": [...]}; every answer carries "ok" and, when false, "error".

#include <QByteArray>

#include "ui/copy_commands.h"

namespace vandry {

QByteArray answerControlRequest(CopyCommands& commands, const QByteArray& line);

} // namespace vandry
