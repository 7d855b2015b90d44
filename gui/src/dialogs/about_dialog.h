#pragma once

#include <QDialog>

#include <memory>

class Ui_AboutDialog;

namespace ze::nox::gui {

// The Help menu's About box: logo, name and version, web site, feedback address, rights notice.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent);
    ~AboutDialog() override;

private:
    std::unique_ptr<Ui_AboutDialog> m_ui;
};

} // namespace ze::nox::gui
