// The RD curve list: proposed names, refused names, the anchor mark, its menu and removal; the
// name dialog.
#include "gui/modal_script.h"
#include "test_support.h"

#include "metrics_panel/rd_curve_list_tree_widget.h"
#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"
#include "app/ze_nox_gui_settings.h"
#include "dialogs/ze_nox_rd_curve_dialog.h"

#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace ze::nox::gui;

namespace {

// Types a name into the name dialog and presses OK; records the proposal it showed.
ModalScript::Action AcceptName(QString const& name, QString* proposal = nullptr)
{
    return [name, proposal](QWidget* w) {
        auto* edit = w->findChild<QLineEdit*>(QStringLiteral("name"));
        ASSERT_NE(edit, nullptr);
        if (proposal)
            *proposal = edit->text();
        if (!name.isNull())
            edit->setText(name);
        w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    };
}

ModalScript::Action Reject(QString* seen = nullptr)
{
    return [seen](QWidget* w) {
        if (seen) {
            if (auto* box = qobject_cast<QMessageBox*>(w))
                *seen = box->text();
            else if (auto* edit = w->findChild<QLineEdit*>(QStringLiteral("name")))
                *seen = edit->text();
        }
        if (auto* d = qobject_cast<QDialog*>(w))
            d->reject();
    };
}

class RdCurveListTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = theApp()->project();
        project->close();
    }
    void TearDown() override { project->close(); }

    // The proposal that Add shows next (the dialog is cancelled).
    QString nextProposal()
    {
        QString proposal;
        ModalScript script({Reject(&proposal)});
        list.addNewRdCurve();
        EXPECT_EQ(script.remaining(), 0);
        return proposal;
    }

    void contextMenu(std::function<void(QMenu*)> action)
    {
        PopupScript popup(std::move(action));
        QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(2, 2), list.viewport()->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(list.viewport(), &ev);
        EXPECT_TRUE(popup.shown());
    }

    ZeNoxGuiProject* project = nullptr;
    RdCurveListTreeWidget list{nullptr};
};

TEST_F(RdCurveListTest, ProposalsNeverRepeatANumberInUse)
{
    EXPECT_EQ(nextProposal(), QStringLiteral("RD Curve #1"));
    {
        ModalScript script({AcceptName(QString())});
        list.addNewRdCurve();
    }
    ASSERT_EQ(list.topLevelItemCount(), 1);
    EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("RD Curve #1"));
    EXPECT_EQ(nextProposal(), QStringLiteral("RD Curve #2"));

    // A typed name still uses up the proposed number.
    QString proposal;
    {
        ModalScript script({AcceptName(QStringLiteral("  x264 slow  "), &proposal)});
        list.addNewRdCurve();
    }
    EXPECT_EQ(proposal, QStringLiteral("RD Curve #2"));
    ASSERT_NE(project->rdCurveByName(QStringLiteral("x264 slow")), nullptr) << "blanks are trimmed";
    EXPECT_EQ(nextProposal(), QStringLiteral("RD Curve #3"));

    // Removing every curve starts again from the names and the count.
    project->removeRdCurves(project->rdCurves());
    EXPECT_EQ(list.topLevelItemCount(), 0);
    EXPECT_EQ(nextProposal(), QStringLiteral("RD Curve #1"));

    // The highest number in the names counts, and so does the number of curves.
    project->addRdCurve(QStringLiteral("RD Curve #7"));
    project->addRdCurve(QStringLiteral("other"));
    EXPECT_EQ(nextProposal(), QStringLiteral("RD Curve #8"));
    project->removeRdCurves({project->rdCurveByName(QStringLiteral("RD Curve #7"))});
    EXPECT_EQ(nextProposal(), QStringLiteral("RD Curve #2"));

    // Closing the project forgets the remembered number.
    {
        ModalScript script({AcceptName(QStringLiteral("mine"))});
        list.addNewRdCurve(); // proposal #2 remembered
    }
    project->close();
    EXPECT_EQ(nextProposal(), QStringLiteral("RD Curve #1"));
}

TEST_F(RdCurveListTest, RefusedNamesReopenTheDialog)
{
    ASSERT_EQ(project->addRdCurve(QStringLiteral("RD Curve #1")), ZE_NOX_GUI_OK);
    ASSERT_EQ(project->addRdCurve(QStringLiteral("B")), ZE_NOX_GUI_OK);

    // Add: an existing name gives the warning and the same proposal again; Cancel ends it.
    QString warning, again;
    {
        ModalScript script({AcceptName(QStringLiteral("B")), Reject(&warning), Reject(&again)});
        list.addNewRdCurve();
        EXPECT_EQ(script.remaining(), 0);
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_EQ(warning, QStringLiteral("RD Curve with the same name already exists"));
    EXPECT_EQ(again, QStringLiteral("RD Curve #3"));
    EXPECT_EQ(project->rdCurves().size(), 2);

    // Rename to its own name is refused too; a free name ends the command.
    list.topLevelItem(1)->setSelected(true);
    QString shown;
    {
        ModalScript script({AcceptName(QString(), &shown), Reject(&warning), AcceptName(QStringLiteral("C"))});
        list.renameRdCurve();
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_EQ(shown, QStringLiteral("B"));
    EXPECT_EQ(warning, QStringLiteral("RD Curve with the same name already exists"));
    EXPECT_NE(project->rdCurveByName(QStringLiteral("C")), nullptr);
    EXPECT_EQ(list.topLevelItem(1)->text(0), QStringLiteral("C"));
}

TEST(RdCurveDialog, BlankNamesCannotBeAccepted)
{
    ZeNoxRdCurveDialog dialog(QStringLiteral("RD Curve #1"), nullptr);
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("name"));
    QPushButton* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    EXPECT_EQ(edit->selectedText(), QStringLiteral("RD Curve #1"));
    EXPECT_TRUE(ok->isEnabled());
    edit->setText(QStringLiteral("   "));
    EXPECT_FALSE(ok->isEnabled());
    edit->setText(QStringLiteral("\t a b "));
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(dialog.name(), QStringLiteral("a b"));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
}

TEST_F(RdCurveListTest, AnchorMarkMenuAndRemoval)
{
    ASSERT_EQ(project->addSourceFile(TestMediaPath(QStringLiteral("panel_a_64x48.y4m"))), ZE_NOX_GUI_OK);
    ASSERT_EQ(project->addSourceFile(TestMediaPath(QStringLiteral("panel_b_64x48.y4m"))), ZE_NOX_GUI_OK);
    ZeNoxSourceFile* const a = project->sourceFiles().at(0);
    ZeNoxSourceFile* const b = project->sourceFiles().at(1);
    project->addRdCurve(QStringLiteral("one"));
    project->addRdCurve(QStringLiteral("two"));
    ZeNoxRdCurve* const one = project->rdCurveByName(QStringLiteral("one"));
    ZeNoxRdCurve* const two = project->rdCurveByName(QStringLiteral("two"));

    // A curve without files cannot be the anchor.
    list.topLevelItem(0)->setSelected(true);
    contextMenu([](QMenu* menu) {
        QAction* anchor = FindAction(menu, QStringLiteral("Set as Anchor"));
        ASSERT_NE(anchor, nullptr);
        EXPECT_FALSE(anchor->isEnabled());
        EXPECT_EQ(anchor->toolTip(), QStringLiteral("RD Curve without source files cannot be set as anchor"));
        ASSERT_NE(FindAction(menu, QStringLiteral("Rename RD Curve")), nullptr);
        EXPECT_TRUE(FindAction(menu, QStringLiteral("Rename RD Curve"))->isEnabled());
        EXPECT_NE(FindAction(menu, QStringLiteral("Remove")), nullptr);
        menu->hide();
    });

    one->addSrcFile(a);
    two->addSrcFile(a);
    two->addSrcFile(b);
    project->setRdCurveAnchor(one);
    EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("one (anchor)"));
    EXPECT_EQ(list.topLevelItem(1)->text(0), QStringLiteral("two"));
    ASSERT_EQ(list.topLevelItem(1)->childCount(), 2);
    EXPECT_EQ(list.topLevelItem(1)->child(1)->text(0), b->shortFilename());

    // Setting the other curve as the anchor moves the mark.
    list.clearSelection();
    list.topLevelItem(1)->setSelected(true);
    contextMenu([](QMenu* menu) { TriggerAndClose(menu, QStringLiteral("Set as Anchor")); });
    EXPECT_EQ(project->rdCurveAnchor(), two);
    EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("one"));
    EXPECT_EQ(list.topLevelItem(1)->text(0), QStringLiteral("two (anchor)"));

    // A selection with a file row offers Remove only; Remove takes the file out and the curve away.
    list.clearSelection();
    list.topLevelItem(0)->setSelected(true);
    list.topLevelItem(0)->setExpanded(true);
    list.topLevelItem(0)->child(0)->setSelected(true);
    contextMenu([](QMenu* menu) {
        QStringList texts;
        for (QAction* act : menu->actions())
            texts << act->text();
        EXPECT_EQ(texts, QStringList{QStringLiteral("Remove")});
        TriggerAndClose(menu, QStringLiteral("Remove"));
    });
    EXPECT_EQ(project->rdCurves(), QList<ZeNoxRdCurve*>{two});
    EXPECT_EQ(project->sourceFiles().size(), 2) << "files stay in the project";
    ASSERT_EQ(list.topLevelItemCount(), 1);
    EXPECT_EQ(list.getRdCurveFromItem(list.topLevelItem(0)), two);
    EXPECT_TRUE(list.contains(a->fullFilename()));
    EXPECT_FALSE(list.contains(a->fullFilename(), QStringLiteral("one")));
}

} // namespace
