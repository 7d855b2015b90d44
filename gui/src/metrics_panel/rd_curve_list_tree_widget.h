#pragma once

#include <QString>
#include <QTreeWidget>

class QContextMenuEvent;

namespace ze::nox::gui {

class ZeNoxRdCurve;
class ZeNoxSourceFile;

// The project's RD curves as top-level rows, each with its files as child rows. Follows the
// project's signals; every command goes through the project.
class RdCurveListTreeWidget : public QTreeWidget
{
    Q_OBJECT
public:
    explicit RdCurveListTreeWidget(QWidget* parent);

    ZeNoxRdCurve* getRdCurveFromItem(QTreeWidgetItem* item) const;
    ZeNoxSourceFile* getSrcFileFromItem(QTreeWidgetItem* item) const;
    QTreeWidgetItem* findItemByRdCurve(ZeNoxRdCurve const* rdCurve) const;
    // Whether a curve (any, or the one shown as rdCurveName) holds a file of that full path.
    bool contains(QString const& fileName, QString const& rdCurveName = QString()) const;

public slots:
    void addNewRdCurve();
    void renameRdCurve();

signals:
    // Always true; after every redraw caused by the project.
    void changed(bool configurationValid);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private slots:
    void onProjectClosed();
    void onNewRdCurveAdded(ZeNoxRdCurve* rdCurve);
    void onRdCurveAboutToRemove(ZeNoxRdCurve* rdCurve);
    void onRdCurveChanged(ZeNoxRdCurve const* rdCurve);

private:
    void setData(QTreeWidgetItem* item, ZeNoxRdCurve* rdCurve);
    void setData(QTreeWidgetItem* item, ZeNoxSourceFile const* srcFile);
    void removeSelected();

    int m_lastRdCurveNumber = 0;
};

} // namespace ze::nox::gui
