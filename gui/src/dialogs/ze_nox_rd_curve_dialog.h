#pragma once

#include <QDialog>
#include <QString>

class Ui_ZeNoxRdCurveDialog;

namespace ze::nox::gui {

// Asks for the name of an RD curve; OK is enabled only for a name that is not blank.
class ZeNoxRdCurveDialog : public QDialog
{
    Q_OBJECT
public:
    ZeNoxRdCurveDialog(QString const& name, QWidget* parent);
    ~ZeNoxRdCurveDialog() override;

    // The entered name without leading and trailing white space.
    QString name() const;

private slots:
    void updateButtons();

private:
    Ui_ZeNoxRdCurveDialog* m_ui = nullptr;
};

} // namespace ze::nox::gui
