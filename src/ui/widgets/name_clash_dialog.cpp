#include "ui/widgets/name_clash_dialog.h"

#include <QMessageBox>
#include <QPushButton>

namespace vandry {

ClashChoice askAboutNameClash(QWidget* parent, const QString& localPath, bool mayResume)
{
    QMessageBox ask(QMessageBox::Question, QStringLiteral("同名文件"), QStringLiteral("“%1”已经存在。").arg(localPath),
                    QMessageBox::NoButton, parent);
    QPushButton* resume = nullptr;
    if (mayResume) {
        ask.setInformativeText(
            QStringLiteral("它与要下载的文件大小相同：继续下载只补齐缺少的部分，内容不同时不会覆盖它。"));
        resume = ask.addButton(QStringLiteral("继续下载"), QMessageBox::AcceptRole);
    } else {
        ask.setInformativeText(QStringLiteral("它与要下载的文件大小不同。"));
    }
    QPushButton* keepBoth = ask.addButton(QStringLiteral("保留两个文件"), QMessageBox::AcceptRole);
    ask.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    ask.setDefaultButton(resume ? resume : keepBoth);
    ask.exec();
    if (resume && ask.clickedButton() == resume)
        return ClashChoice::Resume;
    return ask.clickedButton() == keepBoth ? ClashChoice::KeepBoth : ClashChoice::Cancel;
}

} // namespace vandry
