#include "metrics_panel/rd_curve_list_tree_widget.h"

#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"
#include "metrics_panel/ze_nox_rd_curve.h"
#include "dialogs/ze_nox_rd_curve_dialog.h"
#include "project/ze_nox_source_file.h"

#include <QContextMenuEvent>
#include <QHash>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>

namespace ze::nox::gui {

namespace {

ZeNoxGuiProject* Project()
{
    ZeNoxGuiApp* const app = theApp();
    return app ? app->project() : nullptr;
}

QString CurveText(ZeNoxRdCurve const* curve)
{
    ZeNoxGuiProject* const project = Project();
    bool const anchor = project && project->rdCurveAnchor() == curve;
    return QStringLiteral("%1%2").arg(curve->name(), anchor ? QObject::tr(" (anchor)") : QString());
}

} // namespace

RdCurveListTreeWidget::RdCurveListTreeWidget(QWidget* parent) : QTreeWidget(parent)
{
    ZeNoxGuiProject* const project = Project();
    if (!project)
        return;
    connect(project, &ZeNoxGuiProject::closed, this, &RdCurveListTreeWidget::onProjectClosed);
    connect(project, &ZeNoxGuiProject::rdCurveAdded, this, &RdCurveListTreeWidget::onNewRdCurveAdded);
    connect(project, &ZeNoxGuiProject::rdCurveAboutToRemove, this, &RdCurveListTreeWidget::onRdCurveAboutToRemove,
            Qt::DirectConnection);
    connect(project, &ZeNoxGuiProject::rdCurveChanged, this, &RdCurveListTreeWidget::onRdCurveChanged);
}

ZeNoxRdCurve* RdCurveListTreeWidget::getRdCurveFromItem(QTreeWidgetItem* item) const
{
    if (!item)
        return nullptr;
    return qobject_cast<ZeNoxRdCurve*>(item->data(0, Qt::UserRole).value<ZeNoxRdCurve*>());
}

ZeNoxSourceFile* RdCurveListTreeWidget::getSrcFileFromItem(QTreeWidgetItem* item) const
{
    if (!item)
        return nullptr;
    return qobject_cast<ZeNoxSourceFile*>(item->data(0, Qt::UserRole).value<ZeNoxSourceFile*>());
}

QTreeWidgetItem* RdCurveListTreeWidget::findItemByRdCurve(ZeNoxRdCurve const* rdCurve) const
{
    if (!rdCurve)
        return nullptr;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (getRdCurveFromItem(topLevelItem(i)) == rdCurve)
            return topLevelItem(i);
    return nullptr;
}

bool RdCurveListTreeWidget::contains(QString const& fileName, QString const& rdCurveName) const
{
    // A file row keeps a source file, not a text: the file's full path is what is compared.
    if (fileName.isEmpty())
        return false;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* const curveItem = topLevelItem(i);
        if (!rdCurveName.isEmpty() && curveItem->text(0) != rdCurveName)
            continue;
        for (int j = 0; j < curveItem->childCount(); ++j) {
            ZeNoxSourceFile const* const file = getSrcFileFromItem(curveItem->child(j));
            if (file && file->fullFilename() == fileName)
                return true;
        }
    }
    return false;
}

void RdCurveListTreeWidget::setData(QTreeWidgetItem* item, ZeNoxRdCurve* rdCurve)
{
    if (item && rdCurve)
        item->setData(0, Qt::UserRole, QVariant::fromValue(rdCurve));
}

void RdCurveListTreeWidget::setData(QTreeWidgetItem* item, ZeNoxSourceFile const* srcFile)
{
    if (item && srcFile)
        item->setData(0, Qt::UserRole, QVariant::fromValue(const_cast<ZeNoxSourceFile*>(srcFile)));
}

void RdCurveListTreeWidget::onProjectClosed()
{
    m_lastRdCurveNumber = 0;
}

void RdCurveListTreeWidget::onNewRdCurveAdded(ZeNoxRdCurve* rdCurve)
{
    if (!rdCurve)
        return;
    auto* item = new QTreeWidgetItem(this);
    item->setText(0, rdCurve->name());
    setData(item, rdCurve);
    emit changed(true);
}

void RdCurveListTreeWidget::onRdCurveChanged(ZeNoxRdCurve const* rdCurve)
{
    QTreeWidgetItem* const item = findItemByRdCurve(rdCurve);
    if (!item)
        return;
    item->setText(0, CurveText(rdCurve));
    qDeleteAll(item->takeChildren());
    for (ZeNoxSourceFile const* file : rdCurve->srcFiles()) {
        if (!file)
            continue;
        auto* child = new QTreeWidgetItem(item);
        child->setText(0, file->shortFilename());
        setData(child, file);
    }
    emit changed(true);
}

void RdCurveListTreeWidget::onRdCurveAboutToRemove(ZeNoxRdCurve* rdCurve)
{
    if (!rdCurve)
        return;
    if (QTreeWidgetItem* const item = findItemByRdCurve(rdCurve))
        delete takeTopLevelItem(indexOfTopLevelItem(item));
    if (topLevelItemCount() == 0)
        m_lastRdCurveNumber = 0;
    emit changed(true);
}

void RdCurveListTreeWidget::addNewRdCurve()
{
    ZeNoxGuiProject* const project = Project();
    if (!project)
        return;
    static QString const kPattern = QStringLiteral("RD Curve #");
    int highest = 0;
    for (ZeNoxRdCurve const* curve : project->rdCurves()) {
        if (!curve->name().contains(kPattern))
            continue;
        QStringList const parts = curve->name().split(QLatin1Char('#'));
        int const number = parts.size() > 1 ? parts.at(1).toInt() : 0;
        highest = std::max(highest, number);
    }
    int const n = std::max({m_lastRdCurveNumber, highest, int(project->rdCurves().size())}) + 1;
    QString const proposal = tr("RD Curve #%1").arg(n);

    for (;;) {
        ZeNoxRdCurveDialog dialog(proposal, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        ZeNoxGuiError const res = project->addRdCurve(dialog.name());
        if (res == ZE_NOX_GUI_OK) {
            m_lastRdCurveNumber = n;
            return;
        }
        QMessageBox::warning(this, tr("Add Curve"), ErrToString(res));
        if (res != ZE_NOX_GUI_RD_CURVE_NAME_EXISTS && res != ZE_NOX_GUI_RD_CURVE_NAME_EMPTY)
            return;
    }
}

void RdCurveListTreeWidget::renameRdCurve()
{
    ZeNoxGuiProject* const project = Project();
    QList<QTreeWidgetItem*> const selected = selectedItems();
    if (!project || selected.isEmpty())
        return;
    ZeNoxRdCurve* const curve = getRdCurveFromItem(selected.first());
    if (!curve)
        return;
    for (;;) {
        ZeNoxRdCurveDialog dialog(curve->name(), this);
        if (dialog.exec() != QDialog::Accepted)
            return;
        ZeNoxGuiError const res = project->renameRdCurve(curve->name(), dialog.name());
        if (res == ZE_NOX_GUI_OK)
            return;
        QMessageBox::warning(this, tr("Rename Curve"), ErrToString(res));
    }
}

void RdCurveListTreeWidget::contextMenuEvent(QContextMenuEvent* event)
{
    ZeNoxGuiProject* const project = Project();
    if (!project)
        return;
    QList<QTreeWidgetItem*> const selected = selectedItems();
    bool const anyFileRow = std::any_of(selected.begin(), selected.end(),
                                        [this](QTreeWidgetItem* item) { return getSrcFileFromItem(item) != nullptr; });

    QMenu menu(this);
    menu.setToolTipsVisible(true);
    if (selected.size() == 1) {
        if (ZeNoxRdCurve* const curve = getRdCurveFromItem(selected.first())) {
            QAction* const anchor = menu.addAction(tr("Set as Anchor"));
            connect(anchor, &QAction::triggered, this, [project, curve] { project->setRdCurveAnchor(curve); });
            if (curve->srcFiles().isEmpty()) {
                anchor->setEnabled(false);
                anchor->setToolTip(tr("RD Curve without source files cannot be set as anchor"));
            } else if (project->rdCurveAnchor() == curve) {
                anchor->setEnabled(false);
            }
            menu.addSeparator();
        }
    }
    if (!anyFileRow) {
        connect(menu.addAction(tr("Add RD Curve")), &QAction::triggered, this, &RdCurveListTreeWidget::addNewRdCurve);
        QAction* const rename = menu.addAction(tr("Rename RD Curve"));
        connect(rename, &QAction::triggered, this, &RdCurveListTreeWidget::renameRdCurve);
        rename->setEnabled(selected.size() == 1);
    }
    if (!selected.isEmpty())
        connect(menu.addAction(tr("Remove")), &QAction::triggered, this, &RdCurveListTreeWidget::removeSelected);
    menu.exec(event->globalPos());
}

void RdCurveListTreeWidget::removeSelected()
{
    ZeNoxGuiProject* const project = Project();
    if (!project)
        return;
    QHash<ZeNoxRdCurve*, QList<ZeNoxSourceFile const*>> filesOfCurves;
    QList<ZeNoxRdCurve*> curves;
    for (QTreeWidgetItem* item : selectedItems()) {
        if (ZeNoxSourceFile const* const file = getSrcFileFromItem(item)) {
            if (ZeNoxRdCurve* const curve = getRdCurveFromItem(item->parent()))
                filesOfCurves[curve].append(file);
        } else if (ZeNoxRdCurve* const curve = getRdCurveFromItem(item)) {
            curves.append(curve);
        }
    }
    // Each curve's change rebuilds its rows: the selection is not read again from here on.
    for (auto it = filesOfCurves.begin(); it != filesOfCurves.end(); ++it)
        it.key()->removeSrcFiles(it.value());
    project->removeRdCurves(curves);
}

} // namespace ze::nox::gui
