#include "dialogs/about_dialog.h"

#include "ui_about_dialog.h"
#include "ze_nox_gui_version.h"

#include <QCoreApplication>

namespace ze::nox::gui {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui_AboutDialog>())
{
    m_ui->setupUi(this);
    setMaximumSize(size());
    // One substitution pass: a name holding "%2" stays as it is.
    m_ui->productNameAndVersion->setText(m_ui->productNameAndVersion->text().arg(
        QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
    // The year of the build, as in the log's start lines.
    m_ui->label_2->setText(
        m_ui->label_2->text().arg(QString::number(SERAVIN_COPYRIGHT_YEAR), QCoreApplication::organizationName()));
}

AboutDialog::~AboutDialog() = default;

} // namespace ze::nox::gui
