#pragma once
// vandryctl's requests, one JSON object per line: {"cmd": "status" | "neighbours" | "announce" |
// "browse" | "search" | "download" | "tasks" | "stop" | "resume" | "delete" | "sources" | "quit",
// "args": [...]}; every answer carries "ok" and, when false, "error".

#include <QByteArray>
#include <functional>

#include "ui/copy_commands.h"

namespace vandry {

using ControlReply = std::function<void(const QByteArray& answer)>;

// Answers a request line. browse and search wait for the neighbours' answers and reply later;
// every other command replies before this returns.
void handleControlRequest(CopyCommands& commands, const QByteArray& line, ControlReply reply);
// The commands that answer at once.
QByteArray answerControlRequest(CopyCommands& commands, const QByteArray& line);

} // namespace vandry
