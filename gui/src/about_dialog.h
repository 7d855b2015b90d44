#pragma once

#include "ui_about_dialog.h"

#include <QDialog>

namespace ze::nox::gui {

// The Help menu's About box: logo, name and version, web site, feedback address, rights notice.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);

private:
    Ui_AboutDialog m_ui;
};

} // namespace ze::nox::gui
