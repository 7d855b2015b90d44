// Main window: first start, restored options, frame-rate menu, full screen, help entries, the
// close question, and the hand-over of the project's decoders to the playback area.
#include "test_support.h"
#include "metrics_panel/ze_metrics_view.h"
#include "app/ze_nox_gui_app.h"
#include "app/ze_nox_gui_main_window.h"
#include "project/ze_nox_gui_project.h"
#include "app/ze_nox_gui_settings.h"
#include "metrics_panel/ze_qwt_plot.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QPointer>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

using namespace ze::nox::gui;
using PB = ZeSplittedPlaybackContainer;

namespace {

class MainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings().clear();
        // The panel's hint boxes would pop up as modal boxes in the middle of a test.
        ProjectViewSettings& hints = theApp()->settings()->projectViewSettings();
        hints.saveShowHowtoAddFile(false);
        hints.saveShowHowtoAddFilesToRdCurve(false);
        hints.saveShowHowtoAddRemoveRdCurve(false);
    }
    void TearDown() override
    {
        window.reset();
        theApp()->project()->reset();
        QSettings().clear();
    }

    void makeWindow()
    {
        window = std::make_unique<ZeNoxGuiMainWindow>();
        window->show();
    }
    template <typename T>
    T* child(char const* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    QAction* action(char const* name) const { return child<QAction>(name); }
    QAbstractButton* button(char const* name) const { return child<QAbstractButton>(name); }
    PB* playback() const { return child<PB>("splittedPlaybackContainer"); }
    QString label(char const* name) const { return child<QLabel>(name)->text(); }

    static QStringList texts(QList<QAction*> const& actions)
    {
        QStringList out;
        for (QAction* a : actions)
            if (!a->isSeparator())
                out << a->text();
        return out;
    }
    static QStringList checkedTexts(QList<QAction*> const& actions)
    {
        QStringList out;
        for (QAction* a : actions)
            if (a->isChecked())
                out << a->text();
        return out;
    }

    std::unique_ptr<ZeNoxGuiMainWindow> window;
};

// Runs `answer` on the next modal widget of class T that shows (a message box or dialog). A dialog
// that is still up a while after its answer (a file dialog still loading its folder may ignore an
// accept) is answered again, so a test never waits on it forever.
template <typename T = QWidget>
void AnswerNextModal(std::function<void(T*)> answer)
{
    struct State
    {
        bool answered = false;
        QPointer<QWidget> modal;
        int ticks = 0;
    };
    auto state = std::make_shared<State>();
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, state] {
        QWidget* active = QApplication::activeModalWidget();
        if (state->answered) {
            if (!state->modal || active != state->modal) {
                timer->stop();
                timer->deleteLater();
            } else if (++state->ticks % 20 == 0) {
                answer(static_cast<T*>(active));
            }
            return;
        }
        if (T* modal = qobject_cast<T*>(active)) {
            state->answered = true;
            state->modal = modal;
            answer(modal);
        }
    });
    timer->start();
}

// Stands in for the desktop's browser: records the addresses it is asked to open.
class FakeBrowser : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(QUrl const& url) { opened.append(url); }
};

// The lines the application writes to its log from now on, as "[LEVEL] text".
class LogTail
{
public:
    LogTail() : m_offset(QFileInfo(path()).size()) {}
    QStringList lines() const
    {
        QFile f(path());
        if (!f.open(QIODevice::ReadOnly | QIODevice::Text) || !f.seek(m_offset))
            return {};
        static QRegularExpression const kLine(QStringLiteral("^\\S+ \\S+   (\\[....\\])   (.*)$"));
        QStringList out;
        for (QString const& l : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QRegularExpressionMatch const m = kLine.match(l);
            if (m.hasMatch())
                out.append(m.captured(1) + QLatin1Char(' ') + m.captured(2));
        }
        return out;
    }
    // The first line that starts with prefix; empty when there is none.
    QString find(QString const& prefix) const
    {
        for (QString const& l : lines())
            if (l.startsWith(prefix))
                return l;
        return QString();
    }

private:
    static QString path() { return QDir::currentPath() + QStringLiteral("/logs/seravin.log"); }
    qint64 m_offset;
};

void ClickMessageBoxButton(QWidget* modal, QMessageBox::StandardButton which)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_TRUE(box);
    box->button(which)->click();
}

} // namespace

TEST_F(MainWindowTest, FirstStartWithEmptySettings)
{
    makeWindow();

    EXPECT_EQ(window->windowTitle(), QStringLiteral("New Project - ") + QCoreApplication::applicationName());
    EXPECT_EQ(window->objectName(), QStringLiteral("ZeNoxGuiMainWindowClass"));

    EXPECT_EQ(checkedTexts(child<QMenu>("menuFramerate")->actions()), QStringList{"25 fps"});
    EXPECT_EQ(playback()->playbackInterval(), 1000 / 25);
    EXPECT_TRUE(button("viewModeLeftRight")->isChecked());
    EXPECT_TRUE(action("showLeftRight")->isChecked());
    EXPECT_EQ(playback()->viewMode(), PB::VIEW_MODE_LEFT_RIGHT);
    EXPECT_FALSE(child<QWidget>("heatmapColorbar")->isVisible());
    // Defaults of the store: component 0 (Y), decimal values.
    EXPECT_TRUE(button("visibleComponentsY")->isChecked());
    EXPECT_EQ(playback()->visibleComponent(), ze::nox::core::COMPONENT_Y);
    EXPECT_TRUE(button("yuvValuesFormatDec")->isChecked());

    for (char const* name :
         {"viewModeLeftRight", "viewModeReference", "viewModeLeftRightAndRefDifference",
          "viewModeBlackAndWhiteDifference", "visibleComponentsYuv", "visibleComponentsY", "visibleComponentsU",
          "visibleComponentsV", "yuvValuesFormatDec", "yuvValuesFormatHex", "firstFrameButton", "prevFrameButton",
          "playButton", "pauseButton", "nextFrameButton", "lastFrameButton"})
        EXPECT_FALSE(button(name)->isEnabled()) << name;
    for (char const* name : {"showLeftRight",
                             "showReference",
                             "showLeftRightAndRefDifference",
                             "showBlackAndWhiteDifference",
                             "showStreamInfo",
                             "zoomToActualSize",
                             "zoomToWindowSize",
                             "zoomIn",
                             "zoomOut",
                             "playPauseAction",
                             "showFirstFrame",
                             "showPrevFrame",
                             "showNextFrame",
                             "showLastFrame",
                             "saveProject",
                             "saveProjectAs",
                             "closeProject",
                             "runQualityMetricsAction",
                             "stopQualityMetricsAction",
                             "closeAll"})
        EXPECT_FALSE(action(name)->isEnabled()) << name;
    for (char const* name : {"addFiles", "openProject", "quit", "openDocumentation"})
        EXPECT_TRUE(action(name)->isEnabled()) << name;
    EXPECT_FALSE(child<QSlider>("framesSlider")->isEnabled());

    // Nothing plays: the centre button is Play; the pause page shows only while playing.
    auto* stack = child<QStackedWidget>("playbackButtonsStack");
    EXPECT_EQ(stack->currentWidget(), child<QWidget>("playButtonParent"));
    EXPECT_TRUE(stack->currentWidget()->isAncestorOf(button("playButton")));
    emit playback()->playbackStarted();
    EXPECT_EQ(stack->currentWidget(), child<QWidget>("pauseButtonParent"));
    playback()->pause();
    EXPECT_EQ(stack->currentWidget(), child<QWidget>("playButtonParent"));

    // The first start writes the applied options into the store.
    QSettings store;
    EXPECT_EQ(store.value("targetFramerate").toInt(), 25);
    EXPECT_EQ(store.value("viewMode").toInt(), 0);
    EXPECT_TRUE(store.value("showStreamInfo").toBool());
}

TEST_F(MainWindowTest, SavedOptionsAreAppliedAtStart)
{
    struct Case
    {
        int component;
        int valuesFormat;
        bool streamInfo;
        char const* componentButton; // null: no button of the group checked
        char const* formatButton;
        ze::nox::core::Component playbackComponent;
        PB::YuvValuesFormat playbackFormat;
    };
    Case const cases[] = {
        {1, 1, false, "visibleComponentsU", "yuvValuesFormatHex", ze::nox::core::COMPONENT_U,
         PB::YUV_VALUES_FORMAT_HEX},
        {0, 0, true, "visibleComponentsY", "yuvValuesFormatDec", ze::nox::core::COMPONENT_Y, PB::YUV_VALUES_FORMAT_DEC},
        // Stored values outside their range read as the defaults.
        {9, -1, true, "visibleComponentsY", "yuvValuesFormatDec", ze::nox::core::COMPONENT_Y,
         PB::YUV_VALUES_FORMAT_DEC},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.component);
        window.reset();
        ZeNoxGuiSettings* s = theApp()->settings();
        s->saveShowComponent(c.component);
        s->saveYuvValuesFormat(c.valuesFormat);
        s->saveShowStreamInfo(c.streamInfo);
        s->saveViewMode(3); // written only, never read back
        makeWindow();

        auto* components = child<QToolButton>("visibleComponentsY")->group();
        auto* formats = child<QToolButton>("yuvValuesFormatDec")->group();
        if (c.componentButton) {
            EXPECT_TRUE(button(c.componentButton)->isChecked());
            EXPECT_TRUE(button(c.formatButton)->isChecked());
        } else {
            EXPECT_EQ(components->checkedButton(), nullptr);
            EXPECT_EQ(formats->checkedButton(), nullptr);
        }
        EXPECT_EQ(playback()->visibleComponent(), c.playbackComponent);
        EXPECT_EQ(playback()->yuvValuesFormat(), c.playbackFormat);
        EXPECT_EQ(action("showStreamInfo")->isChecked(), c.streamInfo);
        EXPECT_EQ(playback()->viewMode(), PB::VIEW_MODE_LEFT_RIGHT);
    }
}

TEST_F(MainWindowTest, FramerateMenu)
{
    QStringList const all = {"5 fps", "10 fps", "15 fps", "20 fps", "25 fps", "30 fps", "60 fps"};
    struct Case
    {
        int saved;
        char const* checked;
        int applied;
    };
    // A saved rate that is not one of the seven gives the first.
    Case const cases[] = {{60, "60 fps", 60}, {10, "10 fps", 10}, {7, "5 fps", 5}, {0, "5 fps", 5}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.saved);
        window.reset();
        theApp()->settings()->saveTargetFramerate(c.saved);
        makeWindow();
        QList<QAction*> const entries = child<QMenu>("menuFramerate")->actions();
        EXPECT_EQ(texts(entries), all);
        EXPECT_EQ(checkedTexts(entries), QStringList{c.checked});
        EXPECT_EQ(playback()->playbackInterval(), 1000 / c.applied);
        EXPECT_EQ(theApp()->settings()->getTargetFramerate(), c.applied);
    }

    // Choosing an entry applies and saves it, and checks it alone.
    QList<QAction*> const entries = child<QMenu>("menuFramerate")->actions();
    entries[5]->trigger();
    EXPECT_EQ(checkedTexts(entries), QStringList{"30 fps"});
    EXPECT_EQ(playback()->playbackInterval(), 1000 / 30);
    EXPECT_EQ(theApp()->settings()->getTargetFramerate(), 30);
}

TEST_F(MainWindowTest, FullScreenToggledTwiceReturnsToThePreviousState)
{
    makeWindow();
    QAction* toggle = action("toggleFullscreen");
    EXPECT_EQ(toggle->shortcut(), QKeySequence(QKeySequence::FullScreen));
    Qt::WindowStates const before = window->windowState();
    toggle->trigger();
    EXPECT_TRUE(window->windowState() & Qt::WindowFullScreen);
    toggle->trigger();
    EXPECT_EQ(window->windowState(), before);
}

TEST_F(MainWindowTest, HelpMenu)
{
    makeWindow();
    QMenu* help = child<QMenu>("menuHelp");
    EXPECT_EQ(texts(help->actions()), (QStringList{"Documentation", "&About...", "Qt Usage..."}));

    // About and Qt Usage each run a modal box of their own.
    QString aboutClass;
    AnswerNextModal<QWidget>([&aboutClass](QWidget* modal) {
        aboutClass = QString::fromLatin1(modal->metaObject()->className());
        static_cast<QDialog*>(modal)->reject();
    });
    action("openAboutDialog")->trigger();
    EXPECT_EQ(aboutClass, QStringLiteral("ze::nox::gui::AboutDialog"));

    bool sawQtBox = false;
    AnswerNextModal<QWidget>([&sawQtBox](QWidget* modal) {
        sawQtBox = qobject_cast<QMessageBox*>(modal) != nullptr;
        static_cast<QDialog*>(modal)->reject();
    });
    action("openAboutQtDialog")->trigger();
    EXPECT_TRUE(sawQtBox);

    // Documentation: a browser gets the address; without one a message shows it.
    FakeBrowser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    action("openDocumentation")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    ASSERT_EQ(browser.opened.size(), 1);
    EXPECT_EQ(browser.opened.first().toString(), ZeNoxGuiApp::documentationUrl());

    // The offscreen platform has no browser.
    QString message;
    AnswerNextModal<QMessageBox>([&message](QMessageBox* box) {
        message = box->text();
        box->accept();
    });
    action("openDocumentation")->trigger();
    EXPECT_TRUE(message.contains(ZeNoxGuiApp::documentationUrl())) << message.toStdString();
}

TEST_F(MainWindowTest, MenuBarAndPanelSwitches)
{
    makeWindow();
    QStringList menus;
    for (QAction* a : window->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&View", "Metrics", "Playback", "&Window", "&Help"}));
    EXPECT_EQ(texts(child<QMenu>("menu_File")->actions()),
              (QStringList{"Add Files...", "Open Project...", "Save Project", "Save As...", "Close Project", "Quit"}));
    EXPECT_EQ(action("addFiles")->shortcut(), QKeySequence(QKeySequence::New));
    EXPECT_EQ(action("runQualityMetricsAction")->shortcut(), QKeySequence(QStringLiteral("Ctrl+M, Ctrl+R")));

    auto* splitter = child<QSplitter>("splitter");
    ASSERT_EQ(splitter->count(), 3);
    EXPECT_EQ(splitter->widget(0)->objectName(), QStringLiteral("projectView"));
    EXPECT_EQ(splitter->widget(1)->objectName(), QStringLiteral("layoutWidget"));
    EXPECT_EQ(splitter->widget(2)->objectName(), QStringLiteral("metricsView"));

    // The switches hide the panels and are remembered for the next start.
    action("projectViewAction")->trigger();
    action("metricsViewAction")->trigger();
    EXPECT_FALSE(child<QWidget>("projectView")->isVisible());
    EXPECT_FALSE(child<QWidget>("metricsView")->isVisible());
    window.reset();
    makeWindow();
    EXPECT_FALSE(action("projectViewAction")->isChecked());
    EXPECT_FALSE(child<QWidget>("projectView")->isVisible());
    EXPECT_FALSE(child<QWidget>("metricsView")->isVisible());
}

// With no saved geometry the window starts no larger than the screen's free area (the offscreen
// screen is smaller than the form's default size), as far as its minimum size allows.
TEST_F(MainWindowTest, FirstStartFitsTheScreen)
{
    makeWindow();
    QTest::qWait(100);
    QRect const area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(area.width(), 1546);
    EXPECT_LE(window->frameGeometry().width(), std::max(area.width(), window->minimumWidth() + 4));
    EXPECT_LE(window->frameGeometry().height(), area.height());
    EXPECT_NE(window->size(), QSize(1546, 784));
}

TEST_F(MainWindowTest, CloseSavesTheLayoutThatTheNextStartRestores)
{
    makeWindow();
    // The window may not become smaller than its panels need: take the size it has.
    window->resize(window->width() + 40, 600);
    QTest::qWait(10);
    QSize const closedSize = window->size();
    EXPECT_NE(closedSize, QSize(1546, 784));
    EXPECT_TRUE(window->close());
    ZeNoxGuiSettings* s = theApp()->settings();
    EXPECT_FALSE(s->getMainWindowGeometry().isEmpty());
    EXPECT_FALSE(s->getMainWindowState().isEmpty());
    EXPECT_FALSE(s->getMainWindowVerticalSplitterState().isEmpty());

    window.reset();
    makeWindow();
    EXPECT_EQ(window->size(), closedSize);
}

TEST_F(MainWindowTest, CloseWithUnsavedChangesAsksAndCancelKeepsTheWindow)
{
    makeWindow();
    ZeNoxGuiProject* project = theApp()->project();
    ASSERT_EQ(project->addRdCurve(QStringLiteral("curve")), ZE_NOX_GUI_OK);
    ASSERT_TRUE(project->hasUnsavedChanges());
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("New Project* - ")));
    EXPECT_TRUE(action("saveProject")->isEnabled());

    AnswerNextModal<QWidget>([](QWidget* modal) { ClickMessageBoxButton(modal, QMessageBox::Cancel); });
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(project->hasUnsavedChanges());
    EXPECT_TRUE(theApp()->settings()->getMainWindowGeometry().isEmpty());

    // No: nothing saved, the project closed, the window gone.
    AnswerNextModal<QWidget>([](QWidget* modal) { ClickMessageBoxButton(modal, QMessageBox::No); });
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(project->rdCurves().isEmpty());
    EXPECT_FALSE(theApp()->settings()->getMainWindowGeometry().isEmpty());
    EXPECT_FALSE(action("saveProjectAs")->isEnabled());
    EXPECT_FALSE(action("closeProject")->isEnabled());
}

TEST_F(MainWindowTest, ProjectFilesAreHandedToThePlaybackArea)
{
    makeWindow();
    ZeNoxGuiProject* project = theApp()->project();
    auto* projectView = child<ZeNoxGuiProjectView>("projectView");
    projectView->addSrcFiles({TestMediaPath("pb_avc_5f.h264"), TestMediaPath("pb_ref_10f.y4m")});
    QList<ZeNoxSourceFile*> const files = project->sourceFiles();
    ASSERT_EQ(files.size(), 2);
    ASSERT_EQ(files[0]->openStatus(), ZeNoxSourceFile::Opened);
    ASSERT_EQ(files[1]->openStatus(), ZeNoxSourceFile::Opened);
    // Files without roles give the playback area nothing.
    EXPECT_FALSE(playback()->isLeftFileOpened());
    EXPECT_FALSE(button("viewModeLeftRight")->isEnabled());
    EXPECT_TRUE(action("saveProjectAs")->isEnabled());

    files[0]->setIsLeftFile(true);
    EXPECT_TRUE(playback()->isLeftFileOpened());
    EXPECT_EQ(playback()->viewMode(), PB::VIEW_MODE_LEFT_RIGHT);
    EXPECT_TRUE(button("viewModeLeftRight")->isEnabled());
    EXPECT_FALSE(button("viewModeReference")->isEnabled());
    EXPECT_FALSE(button("viewModeLeftRightAndRefDifference")->isEnabled());
    EXPECT_TRUE(button("visibleComponentsY")->isEnabled());
    EXPECT_TRUE(action("zoomIn")->isEnabled());
    EXPECT_TRUE(action("zoomToActualSize")->isChecked());
    auto* slider = child<QSlider>("framesSlider");
    EXPECT_EQ(slider->maximum(), 4);
    EXPECT_EQ(label("totalFrameCountLabel"), QStringLiteral("4"));
    EXPECT_EQ(label("curFrameNum"), QStringLiteral("0"));
    EXPECT_FALSE(button("prevFrameButton")->isEnabled());
    EXPECT_TRUE(button("nextFrameButton")->isEnabled());

    // A reference enables the reference and difference modes; the longest range sets the slider.
    files[1]->setIsRefFile(true);
    EXPECT_TRUE(playback()->isReferenceFileOpened());
    EXPECT_TRUE(button("viewModeReference")->isEnabled());
    EXPECT_TRUE(button("viewModeBlackAndWhiteDifference")->isEnabled());
    EXPECT_EQ(slider->maximum(), 9);
    EXPECT_EQ(label("totalFrameCountLabel"), QStringLiteral("9"));
    // With a reference and a compared stream the metrics panel offers Run.
    EXPECT_TRUE(action("runQualityMetricsAction")->isEnabled());
    EXPECT_FALSE(action("stopQualityMetricsAction")->isEnabled());

    button("nextFrameButton")->click();
    EXPECT_EQ(label("curFrameNum"), QStringLiteral("1"));
    EXPECT_EQ(slider->value(), 1);
    EXPECT_TRUE(button("prevFrameButton")->isEnabled());
    // A frame picked on a chart is shown.
    emit child<ZeMetricsView>("metricsView")->curFrameSelectionChanged(3);
    EXPECT_EQ(label("curFrameNum"), QStringLiteral("3"));

    // Mode 2 alone shows the colour bar; the menu entry follows the button.
    auto* colorbar = child<QWidget>("heatmapColorbar");
    button("viewModeLeftRightAndRefDifference")->click();
    EXPECT_TRUE(colorbar->isVisible());
    EXPECT_TRUE(action("showLeftRightAndRefDifference")->isChecked());
    EXPECT_EQ(playback()->viewMode(), PB::VIEW_MODE_HEATMAP_DIFF);
    // The bar's scale is the maximum the heat map maps, and follows it.
    auto* maxLabel = colorbar->findChild<QLabel*>(QStringLiteral("maxLabel"));
    ASSERT_TRUE(maxLabel);
    EXPECT_EQ(maxLabel->text(), QStringLiteral("127"));
    playback()->onHeatmapMaxValueChanged(40);
    EXPECT_EQ(maxLabel->text(), QStringLiteral("40"));
    button("viewModeBlackAndWhiteDifference")->click();
    button("viewModeLeftRightAndRefDifference")->click();
    EXPECT_EQ(maxLabel->text(), QStringLiteral("127"));
    action("showReference")->trigger();
    EXPECT_FALSE(colorbar->isVisible());
    EXPECT_TRUE(button("viewModeReference")->isChecked());
    EXPECT_EQ(theApp()->settings()->getViewMode(), 1);

    // Only a reference left with L|R checked: L|R goes off and the next enabled mode above is taken.
    button("viewModeLeftRight")->click();
    files[0]->setIsLeftFile(false);
    QCoreApplication::processEvents(); // the mode is chosen again once the event is done
    EXPECT_FALSE(playback()->isLeftFileOpened());
    EXPECT_FALSE(button("viewModeLeftRight")->isEnabled());
    EXPECT_TRUE(button("viewModeReference")->isChecked());
    EXPECT_EQ(playback()->viewMode(), PB::VIEW_MODE_REFERENCE);

    // Removing the reference while Ref shows falls back to the nearest enabled lower mode.
    files[0]->setIsLeftFile(true);
    project->removeSourceFile(files[1]);
    QCoreApplication::processEvents();
    EXPECT_FALSE(playback()->isReferenceFileOpened());
    EXPECT_TRUE(button("viewModeLeftRight")->isChecked());
    EXPECT_EQ(playback()->viewMode(), PB::VIEW_MODE_LEFT_RIGHT);
    EXPECT_EQ(slider->maximum(), 4);

    // Timed playback stops on the slider's maximum and the play page comes back.
    child<QMenu>("menuFramerate")->actions().last()->trigger();
    auto* stack = child<QStackedWidget>("playbackButtonsStack");
    QSignalSpy paused(playback(), &PB::playbackPaused);
    action("playPauseAction")->trigger(); // the play page shows: Space plays
    EXPECT_EQ(stack->currentIndex(), 1);
    EXPECT_FALSE(button("nextFrameButton")->isEnabled());
    EXPECT_FALSE(button("firstFrameButton")->isEnabled());
    EXPECT_TRUE(paused.wait(5000));
    EXPECT_EQ(label("curFrameNum"), QStringLiteral("4"));
    EXPECT_EQ(stack->currentIndex(), 0);
    EXPECT_FALSE(button("playButton")->isEnabled());
    EXPECT_TRUE(button("firstFrameButton")->isEnabled());

    // A file announced for removal is let go by the playback area at once.
    emit projectView->aboutToRemoveFile(project->sourceFiles().first());
    EXPECT_FALSE(playback()->isLeftFileOpened());

    // Removing the last file: the slider back to 0..1, the total label 0.
    project->removeSourceFile(project->sourceFiles().first());
    EXPECT_FALSE(playback()->isLeftFileOpened());
    EXPECT_EQ(slider->maximum(), 1);
    EXPECT_EQ(label("totalFrameCountLabel"), QStringLiteral("0"));
    EXPECT_FALSE(button("viewModeLeftRight")->isEnabled());
    EXPECT_FALSE(action("playPauseAction")->isEnabled());
}

// While playback cannot show a stream, the file's status says why; it does not mark the project
// changed, and the status is "Opened" again once the stream shows a picture.
TEST_F(MainWindowTest, TheStatusOfAFileThatPlaybackCannotShowSaysWhy)
{
    makeWindow();
    ZeNoxGuiProject* project = theApp()->project();
    child<ZeNoxGuiProjectView>("projectView")
        ->addSrcFiles({TestMediaPath("pb_ref_10f.y4m"), TestMediaPath("pb_avc_10f.h264"),
                       TestMediaPath("pb_avc_5f.h264")});
    QList<ZeNoxSourceFile*> const files = project->sourceFiles();
    ASSERT_EQ(files.size(), 3);
    files[0]->setIsRefFile(true);
    files[1]->setIsLeftFile(true);
    files[2]->setIsRightFile(true);
    QCoreApplication::processEvents();
    auto* list = child<QTreeWidget>("fileList");
    auto status = [list](int row) { return list->topLevelItem(row)->text(ZeNoxGuiProjectView::COLUMN_STATUS); };
    QSignalSpy projectChanged(project, &ZeNoxGuiProject::projectChanged);

    playback()->showFrame(7);
    EXPECT_EQ(status(2), QStringLiteral("Opened (ends at frame 4)"));
    EXPECT_EQ(files[2]->playbackProblem(), QStringLiteral("ends at frame 4"));
    EXPECT_EQ(status(1), QStringLiteral("Opened"));
    EXPECT_EQ(projectChanged.count(), 0);

    playback()->showFirstFrame();
    EXPECT_EQ(status(2), QStringLiteral("Opened"));
    // Another role for the file: its place is emptied and the note goes with it.
    playback()->showFrame(7);
    files[2]->setIsRightFile(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(files[2]->playbackProblem(), QString());
}

TEST_F(MainWindowTest, FilesDroppedOnThePlaybackAreaJoinTheProject)
{
    makeWindow();
    emit playback()->inputFilesDropped({TestMediaPath("pb_ref_5f.y4m")});
    ASSERT_EQ(theApp()->project()->sourceFiles().size(), 1);
    theApp()->project()->sourceFiles().first()->setIsRefFile(true);
    QCoreApplication::processEvents();
    EXPECT_TRUE(playback()->isReferenceFileOpened());
    EXPECT_TRUE(button("viewModeReference")->isChecked());
}

TEST_F(MainWindowTest, NoFilesJoinWhileAMeasurementRuns)
{
    makeWindow();
    ZeMetricsView* metrics = child<ZeMetricsView>("metricsView");
    ASSERT_NE(metrics, nullptr);
    emit metrics->started();
    QString text;
    AnswerNextModal<QMessageBox>([&text](QMessageBox* box) {
        text = box->text();
        box->accept();
    });
    emit playback()->inputFilesDropped({TestMediaPath("pb_ref_5f.y4m")});
    EXPECT_TRUE(theApp()->project()->sourceFiles().isEmpty());
    EXPECT_TRUE(text.startsWith(QStringLiteral("Files cannot be added while quality metrics are being computed.")))
        << text.toStdString();
    emit metrics->stopped(false);
    emit playback()->inputFilesDropped({TestMediaPath("pb_ref_5f.y4m")});
    EXPECT_EQ(theApp()->project()->sourceFiles().size(), 1);
}

TEST_F(MainWindowTest, OpenProject)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ZeNoxGuiProject* project = theApp()->project();
    QString const good = dir.filePath(QStringLiteral("pair.zenxp"));
    ASSERT_EQ(project->addSourceFile(TestMediaPath("pb_ref_5f.y4m")), ZE_NOX_GUI_OK);
    project->setName(QStringLiteral("pair"));
    project->setFileName(good);
    project->saveToFile();
    ASSERT_FALSE(project->hasUnsavedChanges());
    project->reset();
    QString const bad = dir.filePath(QStringLiteral("bad.zenxp"));
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[1, 2]"); // JSON, but no project document
    }
    makeWindow();
    auto open = [this](QString const& file) {
        AnswerNextModal<QFileDialog>([file](QFileDialog* dialog) {
            if (file.isEmpty()) {
                dialog->reject();
                return;
            }
            // The absolute name typed into the name field: selectFile() resolves it against a
            // folder the dialog may still be loading, and the accept is then ignored.
            if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(file);
            else
                dialog->selectFile(file);
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides its accept()
        });
        action("openProject")->trigger();
    };

    LogTail loads;
    open(good);
    ASSERT_EQ(project->sourceFiles().size(), 1);
    EXPECT_EQ(loads.find(QStringLiteral("[INFO] Project loaded: ")),
              QStringLiteral("[INFO] Project loaded: %1 | 1 files, 0 RD curves").arg(good));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("pair - ") + QCoreApplication::applicationName());
    EXPECT_TRUE(action("saveProjectAs")->isEnabled());
    EXPECT_TRUE(action("closeProject")->isEnabled());
    EXPECT_FALSE(action("saveProject")->isEnabled());

    // The current project is closed before the dialog: a cancelled dialog leaves it closed and
    // reports nothing.
    open(QString());
    EXPECT_TRUE(project->sourceFiles().isEmpty());
    EXPECT_FALSE(action("closeProject")->isEnabled());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // A failed load is reported with the error's text and leaves an empty project.
    QString warning;
    AnswerNextModal<QMessageBox>([&warning](QMessageBox* box) {
        warning = box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
    });
    open(bad);
    EXPECT_EQ(
        loads.find(QStringLiteral("[WARN] Project not loaded: ")),
        QStringLiteral("[WARN] Project not loaded: %1 | %2").arg(bad, ErrToString(ZE_NOX_GUI_INVALID_PROJECT_FILE)));
    EXPECT_EQ(warning, QStringLiteral("Open Project|Failed to open a project. %1: %2")
                           .arg(ErrToString(ZE_NOX_GUI_INVALID_PROJECT_FILE), QDir::toNativeSeparators(bad)));
    EXPECT_TRUE(project->sourceFiles().isEmpty());

    // A file that is no JSON at all: "Failed to parse a file", with the file's name.
    QString const garbled = dir.filePath(QStringLiteral("garbled.zenxp"));
    {
        QFile f(garbled);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{ not json");
    }
    AnswerNextModal<QMessageBox>([&warning](QMessageBox* box) {
        warning = box->text();
        box->accept();
    });
    open(garbled);
    EXPECT_EQ(warning, QStringLiteral("Failed to open a project. Failed to parse a file: ") +
                           QDir::toNativeSeparators(garbled));
    EXPECT_TRUE(project->sourceFiles().isEmpty());
    EXPECT_FALSE(action("saveProjectAs")->isEnabled());
    EXPECT_FALSE(action("closeProject")->isEnabled());
}

TEST_F(MainWindowTest, AMovingRoleKeepsTheViewMode)
{
    makeWindow();
    ZeNoxGuiProject* project = theApp()->project();
    child<ZeNoxGuiProjectView>("projectView")
        ->addSrcFiles(
            {TestMediaPath("pb_avc_5f.h264"), TestMediaPath("pb_ref_5f.y4m"), TestMediaPath("pb_ref_10f.y4m")});
    QList<ZeNoxSourceFile*> const files = project->sourceFiles();
    ASSERT_EQ(files.size(), 3);
    files[0]->setIsLeftFile(true);
    files[2]->setIsRefFile(true);
    QCoreApplication::processEvents();
    struct Case
    {
        char const* mode;
        PB::ViewMode expected;
    };
    for (Case c : {Case{"viewModeLeftRight", PB::VIEW_MODE_LEFT_RIGHT},
                   Case{"viewModeLeftRightAndRefDifference", PB::VIEW_MODE_HEATMAP_DIFF},
                   Case{"viewModeBlackAndWhiteDifference", PB::VIEW_MODE_BW_DIFF}}) {
        button(c.mode)->click();
        // The left role moves to the other file as the project panel moves it: the old file
        // lets it go first, so for a moment there is no left or right stream.
        ZeNoxSourceFile* from = files[0]->isLeftFile() ? files[0] : files[1];
        ZeNoxSourceFile* to = from == files[0] ? files[1] : files[0];
        from->setIsLeftFile(false);
        to->setIsLeftFile(true);
        QCoreApplication::processEvents();
        EXPECT_EQ(playback()->viewMode(), c.expected) << c.mode;
        EXPECT_TRUE(button(c.mode)->isChecked()) << c.mode;
        EXPECT_TRUE(button(c.mode)->isEnabled()) << c.mode;
    }
}

TEST_F(MainWindowTest, TheLogTellsWhatHappened)
{
    makeWindow();
    ZeNoxGuiProject* project = theApp()->project();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString const ref = TestMediaPath("pb_ref_5f.y4m");
    QString const dist = TestMediaPath("pb_avc_5f.h264");
    QString const missing = dir.filePath(QStringLiteral("missing.y4m"));
    QString const container = dir.filePath(QStringLiteral("clip.mp4"));
    {
        QFile f(container);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1000, 'x'));
    }

    // Files opened and refused.
    LogTail files;
    for (QString const& name : {ref, dist, missing, container})
        project->addSourceFile(name);
    EXPECT_EQ(files.find(QStringLiteral("[INFO] File opened: ") + ref),
              QStringLiteral("[INFO] File opened: %1 | YUV | %2 bytes | 176x144 YUV 4:2:0 8 bit | 5 frames")
                  .arg(ref)
                  .arg(QFileInfo(ref).size()));
    EXPECT_EQ(files.find(QStringLiteral("[INFO] File opened: ") + dist),
              QStringLiteral("[INFO] File opened: %1 | AVC | %2 bytes | 176x144 YUV 4:2:0 8 bit | 5 frames")
                  .arg(dist)
                  .arg(QFileInfo(dist).size()));
    EXPECT_EQ(files.find(QStringLiteral("[WARN] File not opened: ") + missing),
              QStringLiteral("[WARN] File not opened: %1 | no such file | %2")
                  .arg(missing, ErrToString(ZE_NOX_GUI_FILE_DOES_NOT_EXIST)));
    EXPECT_EQ(files.find(QStringLiteral("[WARN] File not opened: ") + container),
              QStringLiteral("[WARN] File not opened: %1 | 1000 bytes | %2")
                  .arg(container, ErrToString(ZE_NOX_GUI_UNSUPPORTED_FILE_FORMAT)));

    // A measurement run from start to end.
    QList<ZeNoxSourceFile*> const added = project->sourceFiles();
    ASSERT_GE(added.size(), 2);
    added[0]->setIsRefFile(true);
    added[1]->setIsLeftFile(true);
    LogTail run;
    QSignalSpy stopped(child<ZeMetricsView>("metricsView"), &ZeMetricsView::stopped);
    ASSERT_TRUE(action("runQualityMetricsAction")->isEnabled());
    action("runQualityMetricsAction")->trigger();
    ASSERT_TRUE(stopped.wait(60000));
    QCoreApplication::processEvents();
    QString const runText = QStringLiteral("%1 against %2 | frames 0-4 against 0-4 | ").arg(dist, ref);
    EXPECT_TRUE(run.find(QStringLiteral("[INFO] Measurement started: ") + runText).contains(QStringLiteral(" threads")))
        << run.lines().join(QLatin1Char('\n')).toStdString();
    QString const ended = run.find(QStringLiteral("[INFO] Measurement ended: ") + runText);
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral("threads \\| 5 frames measured in \\d+\\.\\d\\d s, \\d+\\.\\d frames/s \\| finished$"))
            .match(ended)
            .hasMatch())
        << ended.toStdString();

    // Save: written, and refused for a folder that does not exist.
    LogTail saves;
    QString const good = dir.filePath(QStringLiteral("p.zenxp"));
    project->setFileName(good);
    project->saveToFile();
    EXPECT_EQ(saves.find(QStringLiteral("[INFO] Project saved: ")), QStringLiteral("[INFO] Project saved: ") + good);
    QString const bad = dir.filePath(QStringLiteral("no/such/folder/p.zenxp"));
    project->setFileName(bad);
    project->saveToFile();
    // With the system's reason after the name.
    QString const refused = QStringLiteral("[WARN] Project not saved: ") + bad + QStringLiteral(" | ");
    EXPECT_GT(saves.find(refused).size(), refused.size());
    project->setFileName(good);
    project->saveToFile();
}

// First start with fresh settings on a screen of each common size: the window, frame and all,
// fills the screen's free area, and with a reference, two encodes and a finished run every pane
// is usable: three file rows, the picture at least 45 % of the window, a chart of 180 pixels and
// the Run button whole. The sizes are read off the grabbed window.
TEST_F(MainWindowTest, EveryPaneIsUsableAtFirstStart)
{
    for (QSize screen : {QSize(1366, 768), QSize(1920, 1080)}) {
        SCOPED_TRACE(screen.width());
        // Fresh: nothing saved but the fixture's hint switches.
        ZeNoxGuiSettings* s = theApp()->settings();
        s->saveMainWindowGeometry(QByteArray());
        s->saveMainWindowVerticalSplitterState(QByteArray());
        window = std::make_unique<ZeNoxGuiMainWindow>();
        QRect const area(QPoint(0, 0), screen);
        window->fitToScreenArea(area);
        window->show();
        QTest::qWait(100); // the frame is known once shown: the window is fitted again with it

        ZeNoxGuiProject* project = theApp()->project();
        child<ZeNoxGuiProjectView>("projectView")
            ->addSrcFiles({TestMediaPath("pb_ref_10f.y4m"), TestMediaPath("pb_avc_10f.h264"),
                           TestMediaPath("pb_avc_5f.h264")});
        QList<ZeNoxSourceFile*> const files = project->sourceFiles();
        ASSERT_EQ(files.size(), 3);
        files[0]->setIsRefFile(true);
        files[1]->setIsLeftFile(true);
        files[2]->setIsRightFile(true);
        QCoreApplication::processEvents();
        QSignalSpy stopped(child<ZeMetricsView>("metricsView"), &ZeMetricsView::stopped);
        action("runQualityMetricsAction")->trigger();
        ASSERT_TRUE(stopped.wait(60000));
        EXPECT_TRUE(stopped.first().first().toBool());
        QCoreApplication::processEvents();

        QRect const frame = window->frameGeometry();
        EXPECT_TRUE(area.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x"
                                          << frame.height();
        EXPECT_GE(frame.width(), 0.9 * area.width());
        EXPECT_GE(frame.height(), 0.9 * area.height());

        QImage const shot = window->grab().toImage();
        ASSERT_EQ(shot.size(), window->size());
        // A pane's rectangle in the grabbed picture.
        auto inShot = [this](QWidget const* w) { return QRect(w->mapTo(window.get(), QPoint(0, 0)), w->size()); };
        QRect const shotRect = shot.rect();

        auto* list = child<QTreeWidget>("fileList");
        QRect const rows = inShot(list->viewport());
        for (int i = 0; i < 3; ++i) {
            // Whole rows, top to bottom (the columns may run on past the right edge).
            QRect const row = list->visualItemRect(list->topLevelItem(i)).translated(rows.topLeft());
            EXPECT_GE(row.top(), rows.top()) << "row " << i;
            EXPECT_LE(row.bottom(), rows.bottom()) << "row " << i;
        }
        QRect const picture = inShot(playback());
        EXPECT_TRUE(shotRect.contains(picture));
        EXPECT_GE(picture.height(), 0.45 * shot.height());
        auto* stack = child<QStackedWidget>("stackedWidget");
        QRect const chart = inShot(stack->currentWidget());
        EXPECT_EQ(stack->currentWidget(), child<QWidget>("plotPsnrYuv"));
        EXPECT_TRUE(shotRect.contains(chart));
        EXPECT_GE(chart.height(), ZeMetricsView::kMinChartHeight);
        QPushButton* run = child<QPushButton>("runMetricsCalc");
        EXPECT_TRUE(run->isVisible());
        EXPECT_TRUE(inShot(child<QWidget>("metricsView")).contains(inShot(run)));
        EXPECT_GE(run->height(), run->sizeHint().height());
        std::printf("screen %dx%d: frame %dx%d, window %dx%d; file rows %d px, picture %d px (%.1f %%), chart %d px "
                    "(plot area %d px), Run %dx%d\n",
                    screen.width(), screen.height(), frame.width(), frame.height(), shot.width(), shot.height(),
                    rows.height(), picture.height(), 100.0 * picture.height() / shot.height(), chart.height(),
                    child<ZeMetricsPlot>("plotPsnrYuv")->canvas()->height(), run->width(), run->height());

        // The controls keep their natural height: the play/pause stack is no taller than its
        // button, and the heat-map mode's colour bar fits in the same window.
        EXPECT_EQ(child<QWidget>("playbackButtonsStack")->height(), button("playButton")->height());
        button("viewModeLeftRightAndRefDifference")->click();
        QCoreApplication::processEvents();
        EXPECT_TRUE(child<QWidget>("heatmapColorbar")->isVisible());
        EXPECT_LE(window->minimumSizeHint().width(), 1366);
        EXPECT_GE(double(playback()->height()) / window->height(), 0.45);
        window.reset();
        project->reset();
    }
}

// The first heights for a window of a given height: a short window (a 1366x768 screen less a
// tall title bar) keeps the picture at 45 % with the side panels at their least; a tall one gives
// the panels their preferred heights and still leaves the picture half the window.
TEST_F(MainWindowTest, FirstPaneHeightsForTheWindowHeight)
{
    makeWindow();
    int const leastProject = child<QWidget>("projectView")->minimumSizeHint().height();
    int const leastMetrics = child<QWidget>("metricsView")->minimumSizeHint().height();
    for (int h : {740, 1050}) {
        SCOPED_TRACE(h);
        QList<int> const s = window->firstStartPaneHeights(h);
        ASSERT_EQ(s.size(), 3);
        EXPECT_GE(s[0], leastProject);
        EXPECT_GE(s[2], leastMetrics);
        EXPECT_LE(s[0] + s[1] + s[2], h);
        int const controls = child<QWidget>("layoutWidget")->minimumSizeHint().height() -
                             playback()->minimumSizeHint().height();
        EXPECT_GE(s[1] - controls, int(0.45 * h));
    }
    QList<int> const tall = window->firstStartPaneHeights(1050);
    EXPECT_EQ(tall[0], child<QWidget>("projectView")->sizeHint().height());
    EXPECT_EQ(tall[2], child<QWidget>("metricsView")->sizeHint().height());
    QList<int> const shortWindow = window->firstStartPaneHeights(740);
    EXPECT_LT(shortWindow[0] + shortWindow[2], tall[0] + tall[2]);
}

// No pane goes below its least height, neither by a drag nor by a saved layout; a saved layout
// whose panes all have their least height comes back.
TEST_F(MainWindowTest, PaneHeightsKeepTheirLeastAndSavedOnesAboveItComeBack)
{
    makeWindow();
    window->resize(1200, 900);
    QTest::qWait(50);
    auto* splitter = child<QSplitter>("splitter");
    QList<int> const least = {child<QWidget>("projectView")->minimumSizeHint().height(),
                              child<QWidget>("layoutWidget")->minimumSizeHint().height(),
                              child<QWidget>("metricsView")->minimumSizeHint().height()};
    EXPECT_FALSE(splitter->childrenCollapsible());
    splitter->setSizes({5, 2000, 5});
    QCoreApplication::processEvents();
    QList<int> sizes = splitter->sizes();
    EXPECT_GE(sizes[0], least[0]);
    EXPECT_GE(sizes[2], least[2]);
    QByteArray const belowLeast = splitter->saveState();

    // A drag the user made comes back at the next start.
    splitter->setSizes({least[0] + 30, 300, least[2] + 20});
    QCoreApplication::processEvents();
    QList<int> const dragged = splitter->sizes();
    EXPECT_TRUE(window->close());
    window.reset();
    makeWindow();
    QTest::qWait(50);
    EXPECT_EQ(child<QSplitter>("splitter")->sizes(), dragged);

    // One below its pane's least height: the first start's heights instead.
    QList<int> const first = window->firstStartPaneHeights(window->height());
    EXPECT_TRUE(window->close());
    window.reset();
    theApp()->settings()->saveMainWindowVerticalSplitterState(belowLeast);
    makeWindow();
    QTest::qWait(50);
    sizes = child<QSplitter>("splitter")->sizes();
    EXPECT_EQ(sizes[0], first[0]);
    EXPECT_EQ(sizes[2], first[2]);
}

// A file replaced on disk is opened again before the playback area takes it: the next project
// change hands over a decoder of the new contents, and the frame slider follows it.
TEST_F(MainWindowTest, AFileReplacedOnDiskIsOpenedAgainForPlayback)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString const path = dir.filePath(QStringLiteral("left.y4m"));
    ASSERT_TRUE(QFile::copy(TestMediaPath("pb_ref_10f.y4m"), path));
    makeWindow();
    ZeNoxGuiProject* project = theApp()->project();
    ASSERT_EQ(project->addSourceFile(path), ZE_NOX_GUI_OK);
    ZeNoxSourceFile* file = project->sourceFiles().first();
    file->setIsLeftFile(true);
    auto* slider = child<QSlider>("framesSlider");
    EXPECT_EQ(slider->maximum(), 9);
    QPointer<ze::nox::core::ZeNoxDecoder> const before = file->decoder();

    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::copy(TestMediaPath("pb_ref_5f.y4m"), path));
    ASSERT_EQ(project->addSourceFile(TestMediaPath("pb_avc_5f.h264")), ZE_NOX_GUI_OK); // a project change
    EXPECT_TRUE(before.isNull()); // the old decoder is gone, not borrowed any more
    EXPECT_EQ(file->originalFrameCount(), 5);
    EXPECT_TRUE(playback()->isLeftFileOpened());
    EXPECT_EQ(slider->maximum(), 4);
    EXPECT_FALSE(file->changedOnDisk());
}

#include "ze_nox_gui_main_window_test.moc"

