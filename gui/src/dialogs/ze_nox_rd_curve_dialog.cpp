#include "dialogs/ze_nox_rd_curve_dialog.h"

#include "ui_ze_nox_rd_curve_dialog.h"

#include <QPushButton>

namespace ze::nox::gui {

ZeNoxRdCurveDialog::ZeNoxRdCurveDialog(QString const& name, QWidget* parent)
    : QDialog(parent), m_ui(new Ui_ZeNoxRdCurveDialog)
{
    m_ui->setupUi(this);
    connect(m_ui->buttonBox, SIGNAL(accepted()), this, SLOT(accept()));
    connect(m_ui->buttonBox, SIGNAL(rejected()), this, SLOT(reject()));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    connect(m_ui->name, &QLineEdit::textChanged, this, &ZeNoxRdCurveDialog::updateButtons);
    m_ui->name->setText(name);
    m_ui->name->selectAll();
    updateButtons();
}

ZeNoxRdCurveDialog::~ZeNoxRdCurveDialog()
{
    delete m_ui;
}

QString ZeNoxRdCurveDialog::name() const
{
    return m_ui->name->text().trimmed();
}

void ZeNoxRdCurveDialog::updateButtons()
{
    if (QPushButton* ok = m_ui->buttonBox->button(QDialogButtonBox::Ok))
        ok->setEnabled(!m_ui->name->text().trimmed().isEmpty());
}

} // namespace ze::nox::gui
