#pragma once

class QString;
class QWidget;

namespace vandry {

enum class ClashChoice { Resume, KeepBoth, Cancel };

// Asks what to do about a file that already has the download's name. "继续下载" is offered only
// when `mayResume`.
ClashChoice askAboutNameClash(QWidget* parent, const QString& localPath, bool mayResume);

} // namespace vandry
