#pragma once

#include <QDialog>

namespace vandry {

// "关于Vandry": the version, a line about the program and a link to the maker's page.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

} // namespace vandry
