// The project panel: rows and their redraw, roles, frame-range editing, the consistency line,
// removing files, the context menu, closing and saving, adding files, hint boxes and the lock.
#include "gui/modal_script.h"
#include "test_support.h"

#include "metrics_panel/rd_curve_list_tree_widget.h"
#include "project/stream_list_tree_widget.h"
#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"
#include "project/ze_nox_gui_project_view.h"
#include "app/ze_nox_gui_settings.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace ze::nox::gui;
using Col = ZeNoxGuiProjectView;

namespace {

QString Clip(char const* name)
{
    return TestMediaPath(QString::fromLatin1(name));
}

ModalScript::Action Press(QMessageBox::StandardButton button, QString* text = nullptr)
{
    return [button, text](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr) << w->metaObject()->className();
        if (text)
            *text = box->text();
        box->button(button)->click();
    };
}

ModalScript::Action CancelFileDialog()
{
    return [](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr) << w->metaObject()->className();
        d->reject();
    };
}

ModalScript::Action ChooseFile(QString const& path)
{
    return [path](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr) << w->metaObject()->className();
        // The absolute name typed into the name field: selectFile() resolves it against a folder
        // the dialog may still be loading, and the accept is then ignored.
        if (auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(path);
        else
            d->selectFile(path);
        static_cast<QDialog*>(d)->accept();
    };
}

// Answers the codec question with `choice`, or cancels it when that is empty; records the
// preselected item and the label.
ModalScript::Action AnswerCodec(QString const& choice, QString* preselected = nullptr, QString* label = nullptr)
{
    return [choice, preselected, label](QWidget* w) {
        auto* d = qobject_cast<QInputDialog*>(w);
        ASSERT_NE(d, nullptr) << w->metaObject()->className();
        if (preselected)
            *preselected = d->textValue();
        if (label)
            *label = d->labelText();
        if (choice.isEmpty()) {
            d->reject();
        } else {
            d->setTextValue(choice);
            d->accept();
        }
    };
}

class ProjectViewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        project = theApp()->project();
        project->close();
        hints(false);
        view = std::make_unique<ZeNoxGuiProjectView>();
        list = view->findChild<StreamListTreeWidget*>(QStringLiteral("fileList"));
        curves = view->findChild<RdCurveListTreeWidget*>(QStringLiteral("rdCurveList"));
        tabs = view->findChild<QTabWidget*>(QStringLiteral("tabWidget"));
        errorMsg = view->findChild<QLabel*>(QStringLiteral("errorMsg"));
        ASSERT_TRUE(list && curves && tabs && errorMsg);
    }
    void TearDown() override
    {
        project->close();
        view.reset();
        hints(true);
    }

    static void hints(bool show)
    {
        ProjectViewSettings& s = theApp()->settings()->projectViewSettings();
        s.saveShowHowtoAddFile(show);
        s.saveShowHowtoAddFilesToRdCurve(show);
        s.saveShowHowtoAddRemoveRdCurve(show);
    }

    ZeNoxSourceFile* add(char const* name)
    {
        EXPECT_EQ(project->addSourceFile(Clip(name)), ZE_NOX_GUI_OK) << name;
        return project->sourceFiles().isEmpty() ? nullptr : project->sourceFiles().last();
    }
    QTreeWidgetItem* row(int i) const { return list->topLevelItem(i); }
    QCheckBox* box(int r, int column) const { return qobject_cast<QCheckBox*>(list->itemWidget(row(r), column)); }
    QToolButton* button(int r) const
    {
        return qobject_cast<QToolButton*>(list->itemWidget(row(r), Col::COLUMN_BUTTON));
    }

    void contextMenu(std::function<void(QMenu*)> action)
    {
        PopupScript popup(std::move(action));
        QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(2, 2), list->viewport()->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(list->viewport(), &ev);
        EXPECT_TRUE(popup.shown());
    }

    ZeNoxGuiProject* project = nullptr;
    std::unique_ptr<ZeNoxGuiProjectView> view;
    StreamListTreeWidget* list = nullptr;
    RdCurveListTreeWidget* curves = nullptr;
    QTabWidget* tabs = nullptr;
    QLabel* errorMsg = nullptr;
};

TEST_F(ProjectViewTest, RowsFollowTheProject)
{
    // A new panel: the stub row alone.
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(button(0)->text(), QStringLiteral("+"));
    for (int c = Col::COLUMN_LEFT; c <= Col::COLUMN_REF; ++c)
        EXPECT_FALSE(box(0, c)->isEnabled());
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Files (0)"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("RD Curves (0)"));

    add("panel_a_64x48.y4m");
    add("panel_120f_64x48.y4m");
    ASSERT_EQ(project->addSourceFile(Clip("missing_clip.y4m")), ZE_NOX_GUI_OK);
    ASSERT_EQ(list->topLevelItemCount(), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(row(i)->text(Col::COLUMN_NUMBER), QString::number(i + 1));
        EXPECT_EQ(button(i)->text(), QStringLiteral("-"));
        EXPECT_TRUE(row(i)->flags() & Qt::ItemIsEditable);
    }
    EXPECT_EQ(row(3)->text(Col::COLUMN_NUMBER), QString());
    EXPECT_EQ(button(3)->text(), QStringLiteral("+"));
    EXPECT_FALSE(row(3)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Files (3)"));

    QTreeWidgetItem* const r = row(1);
    EXPECT_EQ(r->text(Col::COLUMN_FILENAME), QStringLiteral("panel_120f_64x48.y4m"));
    EXPECT_EQ(r->text(Col::COLUMN_RESOLUTION), QStringLiteral("64x48"));
    EXPECT_EQ(r->text(Col::COLUMN_FRAMERATE), QStringLiteral("25.00"));
    EXPECT_EQ(r->text(Col::COLUMN_FIRST_FRAME), QStringLiteral("0"));
    EXPECT_EQ(r->text(Col::COLUMN_LAST_FRAME), QStringLiteral("119"));
    EXPECT_EQ(r->text(Col::COLUMN_FRAMES_COUNT), QStringLiteral("120"));
    EXPECT_EQ(r->text(Col::COLUMN_STATUS), QStringLiteral("Opened"));
    EXPECT_EQ(r->foreground(Col::COLUMN_STATUS).color(), QColor(Qt::darkGreen));

    // The file that failed to open keeps a red row with its reason and no roles.
    QTreeWidgetItem* const failed = row(2);
    EXPECT_EQ(failed->text(Col::COLUMN_FILENAME), QStringLiteral("missing_clip.y4m"));
    EXPECT_EQ(failed->text(Col::COLUMN_RESOLUTION), QString());
    EXPECT_EQ(failed->text(Col::COLUMN_FIRST_FRAME), QString());
    EXPECT_EQ(failed->text(Col::COLUMN_STATUS),
              QStringLiteral("Failed to Open (%1)").arg(ErrToString(ZE_NOX_GUI_FILE_DOES_NOT_EXIST)));
    EXPECT_EQ(failed->foreground(Col::COLUMN_FILENAME).color(), QColor(Qt::red));
    for (int c = Col::COLUMN_LEFT; c <= Col::COLUMN_REF; ++c)
        EXPECT_FALSE(box(2, c)->isEnabled());
    // ... and takes no part in the consistency check.
    EXPECT_TRUE(errorMsg->text().isEmpty());

    // Two curves, one empty.
    project->addRdCurve(QStringLiteral("c1"));
    project->addRdCurve(QStringLiteral("c2"));
    project->rdCurveByName(QStringLiteral("c1"))->addSrcFile(project->sourceFiles().first());
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("RD Curves (2, 1 empty)"));
}

TEST_F(ProjectViewTest, RoleTicksAreExclusive)
{
    ZeNoxSourceFile* const a = add("panel_a_64x48.y4m");
    ZeNoxSourceFile* const b = add("panel_b_64x48.y4m");

    box(0, Col::COLUMN_LEFT)->click();
    EXPECT_TRUE(a->isLeftFile());
    box(1, Col::COLUMN_LEFT)->click();
    EXPECT_TRUE(b->isLeftFile());
    EXPECT_FALSE(a->isLeftFile());
    EXPECT_FALSE(box(0, Col::COLUMN_LEFT)->isChecked());

    // Right on the Left file moves it from Left to Right.
    box(1, Col::COLUMN_RIGHT)->click();
    EXPECT_TRUE(b->isRightFile());
    EXPECT_FALSE(b->isLeftFile());
    EXPECT_FALSE(box(1, Col::COLUMN_LEFT)->isChecked());
    EXPECT_EQ(project->rightSrcFile(), b);
    EXPECT_EQ(project->leftSrcFile(), nullptr);

    // Unticking only clears the role.
    box(1, Col::COLUMN_RIGHT)->click();
    EXPECT_FALSE(b->isRightFile() || b->isLeftFile() || b->isRefFile());

    // Roles set on the model are drawn exclusively: the later row wins.
    a->setIsRefFile(true);
    b->setIsRefFile(true);
    EXPECT_FALSE(a->isRefFile());
    EXPECT_EQ(project->refSrcFile(), b);

    // A file in a curve cannot become the reference until it leaves every curve.
    project->addRdCurve(QStringLiteral("c"));
    ZeNoxRdCurve* const curve = project->rdCurveByName(QStringLiteral("c"));
    curve->addSrcFile(a);
    EXPECT_FALSE(box(0, Col::COLUMN_REF)->isEnabled());
    EXPECT_EQ(box(0, Col::COLUMN_REF)->toolTip(),
              QStringLiteral("File cannot be set as reference because it is already used in RD Curve(s)"));
    curve->removeSrcFiles({a});
    EXPECT_TRUE(box(0, Col::COLUMN_REF)->isEnabled());
}

// A click on a role box of a row that the list shows only in part ticks the box: the list does
// not scroll the row away under the pointer first.
TEST_F(ProjectViewTest, AClickOnAHalfVisibleRowTicksItsBox)
{
    for (char const* name : {"panel_a_64x48.y4m", "panel_b_64x48.y4m", "panel_c_80x48.y4m", "panel_120f_64x48.y4m"})
        add(name);
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    // Three whole rows and a part of the fourth.
    int const rowHeight = list->visualItemRect(row(0)).height();
    view->resize(900, view->minimumSizeHint().height() + rowHeight / 2);
    QCoreApplication::processEvents();
    QWidget* viewport = list->viewport();
    QRect const fourth = list->visualItemRect(row(3));
    ASSERT_LT(fourth.top(), viewport->height());
    ASSERT_GT(fourth.bottom(), viewport->height());

    for (int column : {Col::COLUMN_LEFT, Col::COLUMN_RIGHT, Col::COLUMN_REF}) {
        SCOPED_TRACE(column);
        QCheckBox* b = box(3, column);
        ASSERT_TRUE(b && b->isEnabled());
        int const scrolled = list->verticalScrollBar()->value();
        // On the box's square, in its visible top part.
        QStyleOptionButton option;
        option.initFrom(b);
        QRect const square = b->style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, b);
        QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(square.center().x(), square.top() + 2));
        EXPECT_TRUE(b->isChecked());
        EXPECT_EQ(list->verticalScrollBar()->value(), scrolled);
    }
    EXPECT_TRUE(project->sourceFiles()[3]->isRefFile());
}

TEST_F(ProjectViewTest, FrameRangeEditing)
{
    ZeNoxSourceFile* const f = add("panel_120f_64x48.y4m");
    QAbstractItemModel* const model = list->model();
    auto editor = [&](int column) {
        QStyleOptionViewItem option;
        std::unique_ptr<QWidget> w(
            list->itemDelegate()->createEditor(list->viewport(), option, model->index(0, column)));
        auto* spin = qobject_cast<QSpinBox*>(w.get());
        return spin ? QPair<int, int>(spin->minimum(), spin->maximum()) : QPair<int, int>(-1, -1);
    };
    f->setLastFrameNumber(99);
    EXPECT_EQ(editor(Col::COLUMN_FIRST_FRAME), qMakePair(0, 99));
    f->setFirstFrameNumber(10);
    f->setLastFrameNumber(119);
    EXPECT_EQ(editor(Col::COLUMN_LAST_FRAME), qMakePair(10, 119));
    EXPECT_EQ(editor(Col::COLUMN_FILENAME), qMakePair(-1, -1));
    EXPECT_EQ(editor(Col::COLUMN_STATUS), qMakePair(-1, -1));
    {
        // The stub row has no editors.
        QStyleOptionViewItem option;
        EXPECT_EQ(
            list->itemDelegate()->createEditor(list->viewport(), option, model->index(1, Col::COLUMN_FIRST_FRAME)),
            nullptr);
    }

    // An edited cell reaches the file, clamped by it; a bound off the stream's own is orange.
    QColor const orange(255, 155, 0);
    row(0)->setText(Col::COLUMN_FIRST_FRAME, QStringLiteral("5"));
    EXPECT_EQ(f->firstFrameNumber(), 5);
    EXPECT_EQ(row(0)->foreground(Col::COLUMN_FIRST_FRAME).color(), orange);
    row(0)->setText(Col::COLUMN_FIRST_FRAME, QStringLiteral("0"));
    EXPECT_EQ(row(0)->foreground(Col::COLUMN_FIRST_FRAME).style(), Qt::NoBrush);
    row(0)->setText(Col::COLUMN_LAST_FRAME, QStringLiteral("500"));
    EXPECT_EQ(f->lastFrameNumber(), 119);
    EXPECT_EQ(row(0)->text(Col::COLUMN_LAST_FRAME), QStringLiteral("119"));
    row(0)->setText(Col::COLUMN_LAST_FRAME, QStringLiteral("50"));
    EXPECT_EQ(row(0)->foreground(Col::COLUMN_LAST_FRAME).color(), orange);
    EXPECT_EQ(row(0)->text(Col::COLUMN_FRAMES_COUNT), QStringLiteral("51"));
    row(0)->setText(Col::COLUMN_LAST_FRAME, QStringLiteral("abc"));
    EXPECT_EQ(f->lastFrameNumber(), 50);
}

TEST_F(ProjectViewTest, ConsistencyLineAndRemovingTheShownFile)
{
    ZeNoxSourceFile* const a = add("panel_a_64x48.y4m");
    QSignalSpy changed(view.get(), &ZeNoxGuiProjectView::changed);
    ZeNoxSourceFile* const c = add("panel_c_80x48.y4m");
    EXPECT_TRUE(errorMsg->text().startsWith(QStringLiteral("- Files are not consistent. ")))
        << errorMsg->text().toStdString();
    EXPECT_FALSE(errorMsg->isHidden());
    EXPECT_TRUE(changed.contains(QVariantList{false}));

    // The "-" button of a file being shown: the panel reports the change while the file still
    // exists and the project no longer hands out its decoder, so a viewer can let go in time.
    box(1, Col::COLUMN_LEFT)->click();
    ASSERT_EQ(project->leftSrcFile(), c);
    bool fileAliveAtChange = false;
    bool leftGoneAtChange = false;
    bool destroyed = false;
    QObject::connect(c, &QObject::destroyed, [&] { destroyed = true; });
    QMetaObject::Connection const conn = QObject::connect(view.get(), &ZeNoxGuiProjectView::changed, [&] {
        if (!destroyed && !leftGoneAtChange) {
            fileAliveAtChange = true;
            leftGoneAtChange = project->leftDecoder() == nullptr;
        }
    });
    changed.clear();
    button(1)->click();
    QObject::disconnect(conn);
    QCoreApplication::processEvents(); // the button's deferred deletion
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(fileAliveAtChange && leftGoneAtChange);
    EXPECT_EQ(project->sourceFiles(), QList<ZeNoxSourceFile*>{a});
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_TRUE(errorMsg->text().isEmpty());
    EXPECT_TRUE(errorMsg->isHidden()); // an empty line takes no room from the list
    EXPECT_EQ(changed.last(), QVariantList{true});
}

TEST_F(ProjectViewTest, ContextMenuEntries)
{
    ZeNoxSourceFile* const a = add("panel_a_64x48.y4m");
    ZeNoxSourceFile* const b = add("panel_b_64x48.y4m");
    project->addRdCurve(QStringLiteral("c"));

    // The stub row alone.
    row(2)->setSelected(true);
    contextMenu([](QMenu* menu) {
        EXPECT_FALSE(FindAction(menu, QStringLiteral("Remove"))->isEnabled());
        EXPECT_FALSE(FindAction(menu, QStringLiteral("Apply First Frame Number to Others"))->isEnabled());
        EXPECT_FALSE(FindAction(menu, QStringLiteral("Apply Last Frame Number to Others"))->isEnabled());
        EXPECT_FALSE(FindAction(menu, QStringLiteral("c"))->isEnabled());
        menu->hide();
    });

    // Two files, one of them the reference: the whole submenu is off.
    list->clearSelection();
    b->setIsRefFile(true);
    row(0)->setSelected(true);
    row(1)->setSelected(true);
    contextMenu([](QMenu* menu) {
        QAction* sub = FindAction(menu, QStringLiteral("Add to RD Curve"));
        ASSERT_NE(sub, nullptr);
        EXPECT_FALSE(sub->isEnabled());
        EXPECT_EQ(sub->toolTip(), QStringLiteral("File cannot be added to RD Curve because it has been already "
                                                 "added, or it is a reference file"));
        EXPECT_TRUE(FindAction(menu, QStringLiteral("Remove"))->isEnabled());
        menu->hide();
    });
    b->setIsRefFile(false);

    // One file: equal first frames leave nothing to apply; a different last frame can be applied.
    list->clearSelection();
    row(0)->setSelected(true);
    a->setLastFrameNumber(7);
    contextMenu([](QMenu* menu) {
        EXPECT_FALSE(FindAction(menu, QStringLiteral("Apply First Frame Number to Others"))->isEnabled());
        EXPECT_TRUE(FindAction(menu, QStringLiteral("Apply Last Frame Number to Others"))->isEnabled());
        TriggerAndClose(menu, QStringLiteral("Apply Last Frame Number to Others"));
    });
    EXPECT_EQ(b->lastFrameNumber(), 7);

    // Add to a curve, then to a new one named in its dialog.
    contextMenu([](QMenu* menu) { TriggerAndClose(menu, QStringLiteral("c")); });
    EXPECT_TRUE(project->rdCurveByName(QStringLiteral("c"))->containsSrcFile(a));
    {
        ModalScript script({[](QWidget* w) { qobject_cast<QDialog*>(w)->accept(); }});
        contextMenu([](QMenu* menu) { TriggerAndClose(menu, QStringLiteral("New RD Curve...")); });
        EXPECT_EQ(script.remaining(), 0);
    }
    ASSERT_EQ(project->rdCurves().size(), 2);
    EXPECT_EQ(project->rdCurves().at(1)->srcFiles(), QList<ZeNoxSourceFile const*>{a});
    // The next curve made elsewhere receives no files.
    project->addRdCurve(QStringLiteral("later"));
    EXPECT_TRUE(project->rdCurveByName(QStringLiteral("later"))->srcFiles().isEmpty());
    EXPECT_FALSE(box(0, Col::COLUMN_REF)->isEnabled());

    // Remove announces the file before the project deletes it.
    QList<ZeNoxSourceFile*> announced;
    QObject::connect(view.get(), &ZeNoxGuiProjectView::aboutToRemoveFile, [&](ZeNoxSourceFile* f) {
        EXPECT_TRUE(project->sourceFiles().contains(f));
        announced.append(f);
    });
    contextMenu([](QMenu* menu) { TriggerAndClose(menu, QStringLiteral("Remove")); });
    EXPECT_EQ(announced, QList<ZeNoxSourceFile*>{a});
    EXPECT_EQ(project->sourceFiles(), QList<ZeNoxSourceFile*>{b});
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(row(0)->text(Col::COLUMN_NUMBER), QStringLiteral("1"));
}

TEST_F(ProjectViewTest, OnlyOpenedFilesGoIntoCurves)
{
    add("panel_a_64x48.y4m");
    ASSERT_EQ(project->addSourceFile(Clip("missing_clip.y4m")), ZE_NOX_GUI_OK);
    project->addRdCurve(QStringLiteral("c"));
    for (bool withOpened : {false, true}) {
        list->clearSelection();
        row(1)->setSelected(true);
        row(0)->setSelected(withOpened);
        contextMenu([](QMenu* menu) {
            QAction* sub = FindAction(menu, QStringLiteral("Add to RD Curve"));
            ASSERT_NE(sub, nullptr);
            EXPECT_FALSE(sub->isEnabled());
            EXPECT_EQ(sub->toolTip(), QStringLiteral("A file that is not opened cannot be added to RD Curve"));
            menu->hide();
        });
    }
    list->clearSelection();
    row(0)->setSelected(true);
    contextMenu([](QMenu* menu) {
        EXPECT_TRUE(FindAction(menu, QStringLiteral("Add to RD Curve"))->isEnabled());
        TriggerAndClose(menu, QStringLiteral("c"));
    });
    EXPECT_EQ(project->rdCurveByName(QStringLiteral("c"))->srcFiles().size(), 1);
}

TEST_F(ProjectViewTest, CloseKeepsUnsavedWorkUnlessTheUserDropsIt)
{
    add("panel_a_64x48.y4m");
    ASSERT_TRUE(project->hasUnsavedChanges());

    QString question;
    {
        ModalScript script({Press(QMessageBox::Cancel, &question)});
        EXPECT_FALSE(view->closeProject());
    }
    EXPECT_EQ(question, QStringLiteral("Project 'New Project' has unsaved changes. Would you like to save changes?"));
    EXPECT_EQ(project->sourceFiles().size(), 1);

    // Yes on a never-saved project asks for a file; cancelling that keeps the project.
    {
        ModalScript script({Press(QMessageBox::Yes), CancelFileDialog()});
        EXPECT_FALSE(view->closeProject());
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_EQ(project->sourceFiles().size(), 1);

    // A save that fails keeps the project as well, and says why.
    project->setFileName(QStringLiteral("/nonexistent-folder/p.zenxp"));
    QString failure;
    {
        ModalScript script({Press(QMessageBox::Yes), Press(QMessageBox::Ok, &failure)});
        EXPECT_FALSE(view->closeProject());
        EXPECT_EQ(script.remaining(), 0);
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_TRUE(failure.startsWith(QStringLiteral("Failed to save the project to /nonexistent-folder/p.zenxp.")))
        << failure.toStdString();
    EXPECT_EQ(project->sourceFiles().size(), 1);
    project->setFileName(QString());

    // Yes with a file chosen saves and closes.
    QTemporaryDir dir;
    QString const path = dir.filePath(QStringLiteral("clip.v2.zenxp"));
    QSignalSpy names(view.get(), &ZeNoxGuiProjectView::nameChanged);
    {
        ModalScript script({Press(QMessageBox::Yes), ChooseFile(path)});
        EXPECT_TRUE(view->closeProject());
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_GE(names.count(), 1);
    EXPECT_TRUE(project->sourceFiles().isEmpty());
    ASSERT_EQ(project->loadFromFile(path), ZE_NOX_GUI_OK);
    EXPECT_EQ(project->name(), QStringLiteral("clip.v2"));
    EXPECT_EQ(project->sourceFiles().size(), 1);

    // No drops the changes; without changes nothing is asked.
    add("panel_b_64x48.y4m");
    {
        ModalScript script({Press(QMessageBox::No)});
        EXPECT_TRUE(view->closeProject());
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_TRUE(project->sourceFiles().isEmpty());
    {
        ModalScript script({});
        EXPECT_TRUE(view->closeProject());
        EXPECT_EQ(script.unexpected(), 0);
    }
}

TEST_F(ProjectViewTest, SaveFailuresAreShownAndSaveAsTakesTheNameOnlyWhenWritten)
{
    add("panel_a_64x48.y4m");
    QTemporaryDir dir;
    QString const good = dir.filePath(QStringLiteral("good.zenxp"));
    ASSERT_EQ(project->saveToFileAs(good, QStringLiteral("good")), ZE_NOX_GUI_OK);
    {
        QFile plain(dir.filePath(QStringLiteral("plain")));
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    }
    QString const bad = dir.filePath(QStringLiteral("plain/bad.zenxp"));
    add("panel_b_64x48.y4m");

    // Save As to a target below a regular file: a box with the name and the reason; the project
    // keeps its name and file, so the next Save writes where it did before.
    QString text;
    {
        ModalScript script({ChooseFile(bad), Press(QMessageBox::Ok, &text)});
        view->saveProjectAs();
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_TRUE(text.startsWith(QStringLiteral("Failed to save the project to %1.\n").arg(bad))) << text.toStdString();
    EXPECT_GT(text.size(), QStringLiteral("Failed to save the project to %1.\n").arg(bad).size());
    EXPECT_EQ(project->name(), QStringLiteral("good"));
    EXPECT_EQ(project->fileName(), good);
    EXPECT_TRUE(project->hasUnsavedChanges());
    {
        ModalScript script({});
        view->saveProject();
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_FALSE(project->hasUnsavedChanges());

    // Save with a file name that cannot be written shows the box too.
    project->setFileName(bad);
    text.clear();
    {
        ModalScript script({Press(QMessageBox::Ok, &text)});
        view->saveProject();
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_TRUE(text.startsWith(QStringLiteral("Failed to save the project to %1.").arg(bad)));

    // A name typed without the project suffix gets it; an existing file of that name is replaced
    // only when the user agrees.
    QString const typed = dir.filePath(QStringLiteral("clip"));
    QString const withSuffix = typed + QStringLiteral(".zenxp");
    {
        ModalScript script({ChooseFile(typed)});
        view->saveProjectAs();
        EXPECT_EQ(script.remaining(), 0);
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_TRUE(QFileInfo(withSuffix).isFile());
    EXPECT_FALSE(QFileInfo::exists(typed));
    EXPECT_EQ(project->fileName(), withSuffix);
    EXPECT_EQ(project->name(), QStringLiteral("clip"));
    project->setName(QStringLiteral("renamed"));
    project->setFileName(good);
    QString question;
    {
        ModalScript script({ChooseFile(typed), Press(QMessageBox::No, &question)});
        view->saveProjectAs();
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_TRUE(question.startsWith(withSuffix + QStringLiteral(" already exists."))) << question.toStdString();
    EXPECT_EQ(project->fileName(), good);
    {
        ModalScript script({ChooseFile(typed), Press(QMessageBox::Yes)});
        view->saveProjectAs();
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_EQ(project->fileName(), withSuffix);
}

TEST_F(ProjectViewTest, AddFilesSkipsProjectFilesAndReportsFailures)
{
    ZeNoxGuiSettings* const settings = theApp()->settings();
    settings->saveLastOpenFilesFilter(QString());
    QString info, warning;
    {
        ModalScript script({Press(QMessageBox::Ok, &info), Press(QMessageBox::Ok, &warning)});
        view->addSrcFiles(
            {QStringLiteral("/tmp/some.zenxp"), Clip("panel_a_64x48.y4m"), QString(), Clip("panel_a_64x48.y4m")});
        EXPECT_EQ(script.remaining(), 0);
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_TRUE(info.startsWith(QStringLiteral("You are trying to add a project file.")));
    EXPECT_EQ(warning, QStringLiteral("Failed to add source file %1. %2")
                           .arg(Clip("panel_a_64x48.y4m"), ErrToString(ZE_NOX_GUI_FILE_ALREADY_ADDED)));
    EXPECT_EQ(project->sourceFiles().size(), 1);
    EXPECT_TRUE(settings->getLastOpenFilesFilter().startsWith(QStringLiteral("All Supported Video Files")));
    EXPECT_EQ(settings->getLastOpenedInputFileDir(), QFileInfo(Clip("panel_a_64x48.y4m")).path());

    // The "+" button opens the add-files dialog; cancelling it adds nothing.
    {
        ModalScript script({CancelFileDialog()});
        button(1)->click();
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_EQ(project->sourceFiles().size(), 1);
}

TEST_F(ProjectViewTest, CodecQuestionIsAskedByThePanel)
{
    QTemporaryDir dir;
    QString const a = dir.filePath(QStringLiteral("a.bin"));
    QString const b = dir.filePath(QStringLiteral("b.bin"));
    ASSERT_TRUE(QFile::copy(Clip("ff_hevc8.h265"), a));
    ASSERT_TRUE(QFile::copy(Clip("ff_hevc8.h265"), b));
    QString preselected, label;
    {
        // Cancelling the question for one of three files adds the other two without a message.
        ModalScript script({AnswerCodec(QString()), AnswerCodec(QStringLiteral("HEVC"), &preselected, &label)});
        view->addSrcFiles({a, b, Clip("panel_a_64x48.y4m")});
        EXPECT_EQ(script.remaining(), 0);
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_EQ(preselected, QStringLiteral("YUV"));
    EXPECT_EQ(label, QStringLiteral("Codec type for b"));
    ASSERT_EQ(project->sourceFiles().size(), 2);
    EXPECT_EQ(project->sourceFiles().at(0)->streamType(), ze::nox::core::ZE_STREAM_TYPE_HEVC);
    EXPECT_EQ(project->sourceFiles().at(0)->openStatus(), ZeNoxSourceFile::Opened);
    // A file already in the project is refused without a question.
    QString warning;
    {
        ModalScript script({Press(QMessageBox::Ok, &warning)});
        view->addSrcFiles({b});
        EXPECT_EQ(script.remaining(), 0);
    }
    EXPECT_TRUE(warning.endsWith(ErrToString(ZE_NOX_GUI_FILE_ALREADY_ADDED)));
}

TEST_F(ProjectViewTest, HintBoxShownOncePerRunAndNeverAfterOptOut)
{
    ProjectViewSettings& s = theApp()->settings()->projectViewSettings();
    s.saveShowHowtoAddFilesToRdCurve(true);
    QString title;
    {
        ModalScript script({[&title](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            box->checkBox()->setChecked(true);
            box->accept();
        }});
        add("panel_a_64x48.y4m");
        add("panel_b_64x48.y4m");
        EXPECT_EQ(script.remaining(), 0);
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_EQ(title, QStringLiteral("How to add files to RD Curve"));
    EXPECT_FALSE(s.getShowHowtoAddFilesToRdCurve());
}

TEST_F(ProjectViewTest, ListsLockedAndNoFilesAddedWhileMetricsRun)
{
    view->onMetricsStarted();
    EXPECT_FALSE(list->isEnabled());
    EXPECT_FALSE(curves->isEnabled());
    EXPECT_TRUE(tabs->tabBar()->isEnabled());
    // Dropped files and the Add command (empty list, as Add File(s) and "+" give it) are refused
    // with a message, without a file dialog.
    for (QStringList const& names : {QStringList{Clip("panel_a_64x48.y4m")}, QStringList()}) {
        QString text;
        ModalScript script({Press(QMessageBox::Ok, &text)});
        view->addSrcFiles(names);
        EXPECT_EQ(script.remaining(), 0);
        EXPECT_EQ(script.unexpected(), 0);
        EXPECT_TRUE(text.startsWith(QStringLiteral("Files cannot be added while quality metrics are being computed.")))
            << text.toStdString();
    }
    EXPECT_TRUE(project->sourceFiles().isEmpty());
    view->onMetricsStopped();
    EXPECT_TRUE(list->isEnabled());
    EXPECT_TRUE(curves->isEnabled());
    {
        ModalScript script({});
        view->addSrcFiles({Clip("panel_a_64x48.y4m")});
        EXPECT_EQ(script.unexpected(), 0);
    }
    EXPECT_EQ(project->sourceFiles().size(), 1);
}

} // namespace
