#include "app/ze_nox_gui_main_window.h"

#include "dialogs/about_dialog.h"
#include "display/frame.h"
#include "decoders/ze_nox_decoder.h"
#include "app/ze_nox_gui_app.h"
#include "app/ze_nox_gui_errors.h"
#include "project/ze_nox_gui_project.h"
#include "app/ze_nox_gui_settings.h"
#include "project/ze_nox_source_file.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMessageBox>
#include <QPointF>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace ze::nox::gui {

namespace {

ZeNoxGuiSettings* Settings()
{
    return theApp()->settings();
}

ZeNoxGuiProject* Project()
{
    return theApp()->project();
}

// Clicks the group's button of that id, when there is one.
void ClickButton(QButtonGroup* group, int id)
{
    if (QAbstractButton* button = group->button(id))
        button->click();
}

// Checks every action of the group whose data is id.
void CheckActionsWithData(QActionGroup* group, int id)
{
    for (QAction* action : group->actions())
        if (action->data().toInt() == id)
            action->setChecked(true);
}

// Share of the window's height that the first start keeps for the picture, as far as the side
// panels can give it up without going below their least heights.
constexpr double kFirstStartPictureShare = 0.5;

// The pane sizes of a saved splitter state; empty when it is not one. The layout is the
// toolkit's: a marker, a version and the list of sizes first.
QList<int> SavedSplitterSizes(QByteArray const& state)
{
    QDataStream stream(state);
    stream.setVersion(QDataStream::Qt_5_0);
    qint32 marker = 0;
    qint32 version = 0;
    QList<int> sizes;
    stream >> marker >> version >> sizes;
    if (stream.status() != QDataStream::Ok || marker != 0xff || version < 0 || version > 1)
        return {};
    return sizes;
}

int LeastHeight(QWidget const* w)
{
    return std::max(w->minimumHeight(), w->minimumSizeHint().height());
}

int FramesInRange(core::ZeNoxDecoder const* dec)
{
    return dec ? std::max(0, dec->lastFrameNumber() - dec->firstFrameNumber() + 1) : 0;
}

} // namespace

ZeNoxGuiMainWindow::ZeNoxGuiMainWindow(QWidget* parent) : QMainWindow(parent)
{
    ui.setupUi(this);

    // The side panels keep their heights when the window changes size; the picture takes the rest.
    ui.splitter->setStretchFactor(0, 0);
    ui.splitter->setStretchFactor(1, 1);
    ui.splitter->setStretchFactor(2, 0);

    ui.addFiles->setShortcut(QKeySequence::New);
    connect(ui.addFiles, &QAction::triggered, this, [this] { ui.projectView->addSrcFiles(QStringList()); });
    ui.quit->setShortcut(QKeySequence::Quit);
    ui.toggleFullscreen->setShortcut(QKeySequence::FullScreen);

    setCurTitle();

    // The least sizes that the restore and the fit below keep to are the polished widgets' ones:
    // the layouts forget hints they took before.
    ensurePolished();
    for (QWidget* w : findChildren<QWidget*>())
        w->updateGeometry();
    for (QLayout* l : findChildren<QLayout*>())
        l->invalidate();
    ZeNoxGuiSettings* settings = Settings();
    bool const geometryRestored = restoreGeometry(settings->getMainWindowGeometry());
    restoreState(settings->getMainWindowState(), 0);
    bool const splitterRestored = restoreSplitter(settings->getMainWindowVerticalSplitterState());
    // Dragged to its least height a pane stays usable; it is never collapsed.
    ui.splitter->setChildrenCollapsible(false);
    if (!geometryRestored)
        if (QScreen const* screen = QGuiApplication::primaryScreen())
            fitToScreenArea(screen->availableGeometry());
    // The panes' least heights are final once the style has polished them: the first heights
    // are set again when the window shows.
    m_firstShow = geometryRestored ? (splitterRestored ? FIRST_SHOW_RESTORED : FIRST_SHOW_PANES) : FIRST_SHOW_FIT;

    ui.saveProject->setShortcut(QKeySequence::Save);
    ui.saveProjectAs->setShortcut(QKeySequence::SaveAs);
    ui.closeProject->setShortcut(QKeySequence::Close);

    ui.viewModeButtonGroup->setId(ui.viewModeLeftRight, ZeSplittedPlaybackContainer::VIEW_MODE_LEFT_RIGHT);
    ui.viewModeButtonGroup->setId(ui.viewModeReference, ZeSplittedPlaybackContainer::VIEW_MODE_REFERENCE);
    ui.viewModeButtonGroup->setId(ui.viewModeLeftRightAndRefDifference,
                                  ZeSplittedPlaybackContainer::VIEW_MODE_HEATMAP_DIFF);
    ui.viewModeButtonGroup->setId(ui.viewModeBlackAndWhiteDifference, ZeSplittedPlaybackContainer::VIEW_MODE_BW_DIFF);
    ui.zoomIn->setShortcut(QKeySequence::ZoomIn);
    ui.zoomOut->setShortcut(QKeySequence::ZoomOut);

    ZeSplittedPlaybackContainer* playback = ui.splittedPlaybackContainer;

    connect(ui.heatmapColorbar, &ZeNoxGuiHeatmapColorbar::maximumChanged, playback,
            &ZeSplittedPlaybackContainer::onHeatmapMaxValueChanged);
    // The bar's scale follows the maximum the playback area maps.
    ui.heatmapColorbar->setMaximum(playback->heatmapMaxValue());
    connect(playback, &ZeSplittedPlaybackContainer::heatmapMaxValueChanged, ui.heatmapColorbar,
            &ZeNoxGuiHeatmapColorbar::setMaximum);
    // The checked flag is not read: an exclusive group reports the button losing its check
    // first, so the last run carries the newly checked id.
    connect(ui.viewModeButtonGroup, &QButtonGroup::idToggled, this, [this](int id, bool) { onViewModeToggled(id); });

    ui.visibleComponentsButtonGroup->setId(ui.visibleComponentsYuv, core::COMPONENT_YUV);
    ui.visibleComponentsButtonGroup->setId(ui.visibleComponentsY, core::COMPONENT_Y);
    ui.visibleComponentsButtonGroup->setId(ui.visibleComponentsU, core::COMPONENT_U);
    ui.visibleComponentsButtonGroup->setId(ui.visibleComponentsV, core::COMPONENT_V);
    connect(ui.visibleComponentsButtonGroup, &QButtonGroup::idToggled, this,
            [this](int id, bool) { onComponentToggled(id); });

    QStyle* st = style();
    ui.firstFrameButton->setIcon(st->standardIcon(QStyle::SP_MediaSkipBackward));
    ui.prevFrameButton->setIcon(st->standardIcon(QStyle::SP_MediaSeekBackward));
    ui.playButton->setIcon(st->standardIcon(QStyle::SP_MediaPlay));
    ui.pauseButton->setIcon(st->standardIcon(QStyle::SP_MediaPause));
    ui.nextFrameButton->setIcon(st->standardIcon(QStyle::SP_MediaSeekForward));
    ui.lastFrameButton->setIcon(st->standardIcon(QStyle::SP_MediaSkipForward));

    ui.yuvValuesFormatButtonGroup->setId(ui.yuvValuesFormatDec, ZeSplittedPlaybackContainer::YUV_VALUES_FORMAT_DEC);
    ui.yuvValuesFormatButtonGroup->setId(ui.yuvValuesFormatHex, ZeSplittedPlaybackContainer::YUV_VALUES_FORMAT_HEX);
    connect(ui.yuvValuesFormatButtonGroup, &QButtonGroup::idToggled, this,
            [this](int id, bool) { onYuvValuesFormatToggled(id); });

    ZeNoxGuiProjectView* projectView = ui.projectView;
    connect(projectView, &ZeNoxGuiProjectView::aboutToRemoveFile, this, [playback](ZeNoxSourceFile* srcFile) {
        if (srcFile)
            playback->closeFile(srcFile->decoder());
    });
    connect(projectView, &ZeNoxGuiProjectView::unsavedChangesStatusChanged, this,
            &ZeNoxGuiMainWindow::onUnsavedChangesStatusChanged);
    connect(projectView, &ZeNoxGuiProjectView::changed, this, [this](bool) { onProjectViewChanged(); });
    connect(ui.metricsView, &ZeMetricsView::started, projectView, &ZeNoxGuiProjectView::onMetricsStarted);
    connect(ui.metricsView, &ZeMetricsView::stopped, projectView,
            [projectView](bool) { projectView->onMetricsStopped(); });
    connect(Project(), &ZeNoxGuiProject::closed, this, &ZeNoxGuiMainWindow::onProjectClosed);
    ZeMetricsView* metricsView = ui.metricsView;
    connect(ui.runQualityMetricsAction, &QAction::triggered, metricsView,
            [metricsView] { metricsView->startCalculation(); });
    connect(ui.stopQualityMetricsAction, &QAction::triggered, metricsView,
            [metricsView] { metricsView->stopCalculation(); });
    connect(metricsView, &ZeMetricsView::runMetricsCalcAvailabilityChanged, ui.runQualityMetricsAction,
            &QAction::setEnabled);
    connect(metricsView, &ZeMetricsView::stopMetricsCalcAvailabilityChanged, ui.stopQualityMetricsAction,
            &QAction::setEnabled);
    connect(playback, &ZeSplittedPlaybackContainer::inputFilesDropped, projectView,
            [projectView](QStringList const& names) { projectView->addSrcFiles(names); });
    connect(playback, &ZeSplittedPlaybackContainer::playbackStarted, this, [this] {
        ui.playbackButtonsStack->setCurrentWidget(ui.pauseButtonParent);
        updateNavigationButtonsAndActions();
    });
    connect(playback, &ZeSplittedPlaybackContainer::playbackPaused, this, [this] {
        ui.playbackButtonsStack->setCurrentWidget(ui.playButtonParent);
        updateNavigationButtonsAndActions();
    });
    connect(playback, &ZeSplittedPlaybackContainer::curFrameChanged, this, &ZeNoxGuiMainWindow::onCurFrameChanged);
    // A stream that playback cannot show says so in its file's status while it lasts.
    connect(playback, &ZeSplittedPlaybackContainer::problemsChanged, this, [playback] {
        for (ZeNoxSourceFile* file : Project()->sourceFiles())
            file->setPlaybackProblem(playback->problemOf(file->decoder()));
    });
    connect(playback, &ZeSplittedPlaybackContainer::zoomRatioChanged, this, &ZeNoxGuiMainWindow::onZoomRatioChanged);
    connect(ui.firstFrameButton, &QPushButton::clicked, playback, &ZeSplittedPlaybackContainer::showFirstFrame);
    connect(ui.prevFrameButton, &QPushButton::clicked, playback, &ZeSplittedPlaybackContainer::showPrevFrame);
    connect(ui.nextFrameButton, &QPushButton::clicked, playback, &ZeSplittedPlaybackContainer::showNextFrame);
    connect(ui.lastFrameButton, &QPushButton::clicked, playback, &ZeSplittedPlaybackContainer::showLastFrame);
    connect(ui.playButton, &QPushButton::clicked, playback, &ZeSplittedPlaybackContainer::play);
    connect(ui.pauseButton, &QPushButton::clicked, playback, &ZeSplittedPlaybackContainer::pause);
    // Space starts playback while the play page shows and pauses it while the pause page shows.
    connect(ui.playPauseAction, &QAction::triggered, this, [this] {
        if (QWidget* page = ui.playbackButtonsStack->currentWidget())
            if (auto* button = page->findChild<QPushButton*>())
                button->click();
    });
    connectFrameRange();
    connect(playback, &ZeSplittedPlaybackContainer::curFrameChanged, metricsView, &ZeMetricsView::selectFrame);
    connect(metricsView, &ZeMetricsView::curFrameSelectionChanged, playback, &ZeSplittedPlaybackContainer::showFrame);

    initViewModeGroup();
    initShowComponentsGroup();
    initYuvValuesFormatGroup();
    initFrameRateGroup();
    connectMainMenuActions();
    initMainMenuItems();

    ClickButton(ui.viewModeButtonGroup, ZeSplittedPlaybackContainer::VIEW_MODE_LEFT_RIGHT);
    ClickButton(ui.visibleComponentsButtonGroup, settings->getShowComponent());
    ClickButton(ui.yuvValuesFormatButtonGroup, settings->getYuvValuesFormat());

    updateOpenCloseMenuItemsState();
    updateViewOptionsAndActions();
    updateNavigationButtonsAndActions();
    updateZoomControls();
}

ZeNoxGuiMainWindow::~ZeNoxGuiMainWindow() = default;

void ZeNoxGuiMainWindow::connectFrameRange()
{
    m_frameRangeConnection =
        connect(ui.framesSlider, &QSlider::rangeChanged, this, &ZeNoxGuiMainWindow::setFrameRangeLabelsValues);
}

// ---- set-up ----

void ZeNoxGuiMainWindow::initViewModeGroup()
{
    m_viewModeActionGroup = new QActionGroup(ui.menu_View);
    m_viewModeActionGroup->setExclusive(true);
    QAction* const actions[] = {ui.showLeftRight, ui.showReference, ui.showLeftRightAndRefDifference,
                                ui.showBlackAndWhiteDifference};
    for (int i = 0; i < 4; ++i) {
        actions[i]->setData(i);
        m_viewModeActionGroup->addAction(actions[i]);
    }
}

void ZeNoxGuiMainWindow::initShowComponentsGroup()
{
    m_showComponentActionGroup = new QActionGroup(ui.showComponentsMenu);
    m_showComponentActionGroup->setExclusive(true);
    struct Entry
    {
        char const* text;
        core::Component component;
    };
    static Entry const kEntries[] = {
        {"YUV", core::COMPONENT_YUV}, {"Y", core::COMPONENT_Y}, {"U", core::COMPONENT_U}, {"V", core::COMPONENT_V}};
    for (Entry const& e : kEntries) {
        auto* action = new QAction(tr(e.text), m_showComponentActionGroup);
        action->setCheckable(true);
        action->setData(static_cast<int>(e.component));
    }
    ui.showComponentsMenu->addActions(m_showComponentActionGroup->actions());
}

void ZeNoxGuiMainWindow::initYuvValuesFormatGroup()
{
    m_yuvValuesFormatActionGroup = new QActionGroup(ui.yuvValuesFormatMenu);
    m_yuvValuesFormatActionGroup->setExclusive(true);
    auto* dec = new QAction(tr("Decimal"), m_yuvValuesFormatActionGroup);
    dec->setCheckable(true);
    dec->setData(static_cast<int>(ZeSplittedPlaybackContainer::YUV_VALUES_FORMAT_DEC));
    auto* hex = new QAction(tr("Hexadecimal"), m_yuvValuesFormatActionGroup);
    hex->setCheckable(true);
    hex->setData(static_cast<int>(ZeSplittedPlaybackContainer::YUV_VALUES_FORMAT_HEX));
    ui.yuvValuesFormatMenu->addActions(m_yuvValuesFormatActionGroup->actions());
}

void ZeNoxGuiMainWindow::initFrameRateGroup()
{
    m_frameRateActionGroup = new QActionGroup(this);
    m_frameRateActionGroup->setExclusive(true);
    int const savedRate = Settings()->getTargetFramerate();

    static int const kRates[] = {5, 10, 15, 20, 25, 30, 60};
    QAction* chosen = nullptr;
    for (int rate : kRates) {
        // Owned by the group (and so by the window): neither the menu nor the group's
        // addAction takes ownership of an action.
        auto* action = new QAction(tr("%1 fps").arg(rate), m_frameRateActionGroup);
        action->setData(rate);
        action->setCheckable(true);
        m_frameRateActionGroup->addAction(action);
        ui.menuFramerate->addAction(action);
        if (rate == savedRate)
            chosen = action;
    }
    if (!chosen) {
        if (m_frameRateActionGroup->actions().isEmpty())
            return;
        chosen = m_frameRateActionGroup->actions().first();
    }
    chosen->setChecked(true);
    int const rate = chosen->data().toInt();
    ui.splittedPlaybackContainer->setTargetFps(rate);
    Settings()->saveTargetFramerate(rate);
}

void ZeNoxGuiMainWindow::connectMainMenuActions()
{
    ZeSplittedPlaybackContainer* playback = ui.splittedPlaybackContainer;

    connect(ui.openProject, &QAction::triggered, this, &ZeNoxGuiMainWindow::onOpenProject);
    ZeNoxGuiProjectView* projectView = ui.projectView;
    connect(ui.saveProject, &QAction::triggered, projectView, [projectView] { projectView->saveProject(); });
    connect(ui.saveProjectAs, &QAction::triggered, projectView, [projectView] { projectView->saveProjectAs(); });
    connect(ui.closeProject, &QAction::triggered, this, &ZeNoxGuiMainWindow::closeProject);
    connect(ui.quit, &QAction::triggered, this, &QWidget::close);
    connect(m_viewModeActionGroup, &QActionGroup::triggered, this,
            [this](QAction* action) { ClickButton(ui.viewModeButtonGroup, action->data().toInt()); });
    connect(ui.showStreamInfo, &QAction::toggled, this, [playback](bool show) {
        playback->showStreamInfo(show);
        Settings()->saveShowStreamInfo(show);
    });
    connect(m_showComponentActionGroup, &QActionGroup::triggered, this,
            [this](QAction* action) { ClickButton(ui.visibleComponentsButtonGroup, action->data().toInt()); });
    connect(m_yuvValuesFormatActionGroup, &QActionGroup::triggered, this,
            [this](QAction* action) { ClickButton(ui.yuvValuesFormatButtonGroup, action->data().toInt()); });
    connect(ui.zoomToActualSize, &QAction::triggered, playback, &ZeSplittedPlaybackContainer::zoomToActualSize);
    connect(ui.zoomToWindowSize, &QAction::triggered, playback, &ZeSplittedPlaybackContainer::zoomToWindowSize);
    connect(ui.zoomIn, &QAction::triggered, playback, [playback] { playback->zoomIn(QPointF()); });
    connect(ui.zoomOut, &QAction::triggered, playback, [playback] { playback->zoomOut(QPointF()); });
    connect(ui.resetToDefaultView, &QAction::triggered, playback, &ZeSplittedPlaybackContainer::resetToDefaultView);
    connect(ui.toggleFullscreen, &QAction::triggered, this,
            [this] { setWindowState(windowState() ^ Qt::WindowFullScreen); });
    connect(m_frameRateActionGroup, &QActionGroup::triggered, this, [playback](QAction* action) {
        int const rate = action->data().toInt();
        playback->setTargetFps(rate);
        Settings()->saveTargetFramerate(rate);
    });
    connect(ui.showFirstFrame, &QAction::triggered, playback, &ZeSplittedPlaybackContainer::showFirstFrame);
    connect(ui.showPrevFrame, &QAction::triggered, playback, &ZeSplittedPlaybackContainer::showPrevFrame);
    connect(ui.showNextFrame, &QAction::triggered, playback, &ZeSplittedPlaybackContainer::showNextFrame);
    connect(ui.showLastFrame, &QAction::triggered, playback, &ZeSplittedPlaybackContainer::showLastFrame);
    connect(ui.projectViewAction, &QAction::toggled, this, [this](bool show) {
        ui.projectView->setVisible(show);
        Settings()->saveShowProjectView(show);
    });
    connect(ui.metricsViewAction, &QAction::toggled, this, [this](bool show) {
        ui.metricsView->setVisible(show);
        Settings()->saveShowMetricsView(show);
    });
    connect(ui.openDocumentation, &QAction::triggered, this, &ZeNoxGuiMainWindow::openDocumentation);
    connect(ui.openAboutDialog, &QAction::triggered, this, &ZeNoxGuiMainWindow::showAboutDialog);
    connect(ui.openAboutQtDialog, &QAction::triggered, this, [this] { QMessageBox::aboutQt(this, QString()); });
}

void ZeNoxGuiMainWindow::initMainMenuItems()
{
    // Each toggle is emitted once, so its handler applies and saves the value.
    ZeNoxGuiSettings* settings = Settings();
    bool const showInfo = settings->getShowStreamInfo();
    ui.showStreamInfo->setChecked(!showInfo);
    ui.showStreamInfo->setChecked(showInfo);
    bool const showProject = settings->getShowProjectView();
    ui.projectViewAction->setChecked(!showProject);
    ui.projectViewAction->setChecked(showProject);
    bool const showMetrics = settings->getShowMetricsView();
    ui.metricsViewAction->setChecked(!showMetrics);
    ui.metricsViewAction->setChecked(showMetrics);
}

// ---- slots ----

void ZeNoxGuiMainWindow::fitToScreenArea(QRect const& area, QMargins const& frame)
{
    m_fitArea = area;
    // The frame is the window manager's; what it leaves of the area is the window (the window's
    // least size holds where the area is smaller).
    resize(area.marginsRemoved(frame).size());
    move(area.topLeft());
    applyFirstStartPaneHeights(height());
}

QList<int> ZeNoxGuiMainWindow::firstStartPaneHeights(int windowHeight) const
{
    QMargins const margins = ui.gridLayout_4->contentsMargins();
    int const splitterHeight = windowHeight - menuBar()->sizeHint().height() - margins.top() - margins.bottom() -
                               2 * ui.splitter->handleWidth();
    int const controls = LeastHeight(ui.layoutWidget) - LeastHeight(ui.splittedPlaybackContainer);
    int const leastProject = LeastHeight(ui.projectView);
    int const leastMetrics = LeastHeight(ui.metricsView);
    int project = std::max(ui.projectView->sizeHint().height(), leastProject);
    int metrics = std::max(ui.metricsView->sizeHint().height(), leastMetrics);
    // Where the preferred heights leave the picture less than its share, the side panels give
    // up the difference in proportion to what they have above their least heights.
    int const deficit = int(kFirstStartPictureShare * windowHeight) - (splitterHeight - controls - project - metrics);
    int const slack = project - leastProject + metrics - leastMetrics;
    if (deficit > 0 && slack > 0) {
        int const given = std::min(deficit, slack);
        int const fromProject = int(qint64(given) * (project - leastProject) / slack);
        project -= fromProject;
        metrics -= given - fromProject;
    }
    int const picture = std::max(LeastHeight(ui.layoutWidget), splitterHeight - project - metrics);
    return {project, picture, metrics};
}

void ZeNoxGuiMainWindow::applyFirstStartPaneHeights(int windowHeight)
{
    ui.splitter->setSizes(firstStartPaneHeights(windowHeight));
}

bool ZeNoxGuiMainWindow::restoreSplitter(QByteArray const& state)
{
    // Sizes the user dragged come back, unless one of them is below its pane's least height (an
    // older layout, or another font): then the first start's heights are taken instead.
    QList<int> const sizes = SavedSplitterSizes(state);
    if (sizes.size() != ui.splitter->count())
        return false;
    for (int i = 0; i < sizes.size(); ++i)
        if (sizes[i] < LeastHeight(ui.splitter->widget(i)))
            return false;
    return ui.splitter->restoreState(state);
}

void ZeNoxGuiMainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    FirstShow const first = m_firstShow;
    m_firstShow = FIRST_SHOW_RESTORED;
    if (first != FIRST_SHOW_RESTORED)
        applyFirstStartPaneHeights(height());
    // After the layout has taken the polished hints.
    if (first == FIRST_SHOW_FIT)
        QTimer::singleShot(0, this, [this] { refitToFrame(kRefitTries); });
}

void ZeNoxGuiMainWindow::refitToFrame(int triesLeft)
{
    // The window manager frames the window some time after it is shown; once the frame is known
    // the window is fitted again so that, frame and all, it fills the area.
    QRect const inner = geometry();
    QRect const outer = frameGeometry();
    if (outer != inner) {
        QMargins const frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                             outer.bottom() - inner.bottom());
        if (outer != m_fitArea)
            fitToScreenArea(m_fitArea, frame);
        return;
    }
    if (triesLeft > 0)
        QTimer::singleShot(kRefitInterval, this, [this, triesLeft] { refitToFrame(triesLeft - 1); });
}

void ZeNoxGuiMainWindow::setCurTitle()
{
    ZeNoxGuiProject const* project = Project();
    setWindowTitle(QStringLiteral("%1%2 - %3")
                       .arg(project->name(), project->hasUnsavedChanges() ? QStringLiteral("*") : QString(),
                            QCoreApplication::applicationName()));
}

void ZeNoxGuiMainWindow::closeProject()
{
    ui.projectView->closeProject();
}

void ZeNoxGuiMainWindow::closeLeftFile()
{
    commonOnCloseFileActions();
}

void ZeNoxGuiMainWindow::closeRightFile()
{
    commonOnCloseFileActions();
}

void ZeNoxGuiMainWindow::closeReferenceFile()
{
    commonOnCloseFileActions();
}

void ZeNoxGuiMainWindow::commonOnCloseFileActions()
{
    disconnect(m_frameRangeConnection);
    int const last = ui.splittedPlaybackContainer->totalFrameCount() - 1;
    if (last > 0)
        ui.framesSlider->setRange(0, last);
    else
        ui.framesSlider->setRange(0, 1);
    ui.totalFrameCountLabel->setNum(0);
    connectFrameRange();

    updateOpenCloseMenuItemsState();
    updateViewOptionsAndActions();
    updateNavigationButtonsAndActions();
    updateZoomControls();
}

void ZeNoxGuiMainWindow::closeFile(core::ZeNoxDecoder* dec)
{
    ui.splittedPlaybackContainer->closeFile(dec);
}

void ZeNoxGuiMainWindow::setFrameRangeLabelsValues(int /*min*/, int max)
{
    ui.totalFrameCountLabel->setNum(max);
}

void ZeNoxGuiMainWindow::showAboutDialog()
{
    AboutDialog dialog(nullptr);
    dialog.exec();
}

void ZeNoxGuiMainWindow::openDocumentation()
{
    if (theApp()->openDocumentation())
        return;
    // No browser: the address, selectable, so that it can be opened elsewhere.
    QMessageBox box(QMessageBox::Information, tr("Documentation"),
                    tr("The documentation could not be opened: no web browser is available.\n\n"
                       "It is at %1")
                        .arg(ZeNoxGuiApp::documentationUrl()),
                    QMessageBox::Ok, this);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box.exec();
}

void ZeNoxGuiMainWindow::selectPrevAvailableViewMode()
{
    QButtonGroup* group = ui.viewModeButtonGroup;
    int const checked = group->checkedId();
    auto tryClick = [group](int id) {
        QAbstractButton* button = group->button(id);
        if (!button || !button->isEnabled())
            return false;
        button->click();
        return true;
    };
    for (int id = checked - 1; id >= 0; --id)
        if (tryClick(id))
            return;
    for (int id = group->buttons().size() - 1; id > checked; --id)
        if (tryClick(id))
            return;
}

// A role that moves from one file to another passes through a state without that stream (the
// old file lets it go before the new one takes it), all within one event. The mode is chosen
// again once that event is done, from the state it left.
void ZeNoxGuiMainWindow::scheduleViewModeCheck()
{
    if (m_viewModeCheckPending)
        return;
    m_viewModeCheckPending = true;
    QTimer::singleShot(0, this, [this] {
        m_viewModeCheckPending = false;
        if (QAbstractButton* checked = ui.viewModeButtonGroup->checkedButton())
            if (!checked->isEnabled())
                selectPrevAvailableViewMode();
    });
}

// ---- handlers ----

void ZeNoxGuiMainWindow::onViewModeToggled(int id)
{
    CheckActionsWithData(m_viewModeActionGroup, id);
    ui.splittedPlaybackContainer->setViewMode(static_cast<ZeSplittedPlaybackContainer::ViewMode>(id));
    Settings()->saveViewMode(id);
    ui.heatmapColorbar->setVisible(id == ZeSplittedPlaybackContainer::VIEW_MODE_HEATMAP_DIFF);
}

void ZeNoxGuiMainWindow::onComponentToggled(int id)
{
    CheckActionsWithData(m_showComponentActionGroup, id);
    ui.splittedPlaybackContainer->setVisibleComponent(static_cast<core::Component>(id));
    Settings()->saveShowComponent(id);
}

void ZeNoxGuiMainWindow::onYuvValuesFormatToggled(int id)
{
    CheckActionsWithData(m_yuvValuesFormatActionGroup, id);
    ui.splittedPlaybackContainer->setYuvValuesFormat(static_cast<ZeSplittedPlaybackContainer::YuvValuesFormat>(id));
    Settings()->saveYuvValuesFormat(id);
}

void ZeNoxGuiMainWindow::onUnsavedChangesStatusChanged(bool hasUnsavedChanges)
{
    setCurTitle();
    ui.saveProject->setEnabled(hasUnsavedChanges);
    ui.saveProjectAs->setEnabled(true);
    ui.closeProject->setEnabled(true);
}

// Every change of the project hands its left, right and reference decoders to the playback
// area again and shows the first frame.
void ZeNoxGuiMainWindow::onProjectViewChanged()
{
    ZeNoxGuiProject* project = Project();
    // A file replaced on disk since it was opened is opened again before the playback area takes
    // it; the reopen's own change hands the new decoder over while the old one still exists.
    if (!m_reopeningFiles) {
        m_reopeningFiles = true;
        project->reopenChangedFiles({project->leftSrcFile(), project->rightSrcFile(), project->refSrcFile()});
        m_reopeningFiles = false;
    }
    setCurTitle();
    ui.saveProject->setEnabled(project->hasUnsavedChanges());

    core::ZeNoxDecoder* const left = project->leftDecoder();
    core::ZeNoxDecoder* const right = project->rightDecoder();
    core::ZeNoxDecoder* const ref = project->referenceDecoder();
    ZeSplittedPlaybackContainer* playback = ui.splittedPlaybackContainer;
    playback->setLeftDec(left);
    playback->setRightDec(right);
    playback->setRefDec(ref);

    int n = 0;
    for (core::ZeNoxDecoder const* dec : project->getAllDecoders({ZeNoxSourceFile::Opened}))
        if (dec && (dec == left || dec == right || dec == ref))
            n = std::max(n, FramesInRange(dec));
    if (n > 0)
        ui.framesSlider->setRange(0, n - 1);
    else
        ui.framesSlider->setRange(0, 1);
    // Set here as well: an unchanged range emits nothing, and the label may still read the 0
    // left by an empty project.
    ui.totalFrameCountLabel->setNum(n > 0 ? ui.framesSlider->maximum() : 0);

    updateOpenCloseMenuItemsState();
    updateViewOptionsAndActions();
    updateNavigationButtonsAndActions();
    updateZoomControls();

    playback->showFirstFrame();
    repaint();
}

void ZeNoxGuiMainWindow::onCurFrameChanged(int frameNum)
{
    ui.curFrameNum->setNum(frameNum);
    ui.framesSlider->setValue(frameNum);
    ui.curFps->setNum(ui.splittedPlaybackContainer->curFps());
    // Timed playback stops on the last frame of the longest range.
    if (frameNum == ui.framesSlider->maximum())
        ui.splittedPlaybackContainer->pause();
    updateNavigationButtonsAndActions();
}

void ZeNoxGuiMainWindow::onZoomRatioChanged(double ratio)
{
    ui.zoomRatio->setText(QStringLiteral("x%1").arg(ratio, 3, 'f', 2));
    updateZoomControls();
}

void ZeNoxGuiMainWindow::onProjectClosed()
{
    ui.splittedPlaybackContainer->resetToDefaultView();
    ui.metricsView->resetToDefault();
    ui.saveProjectAs->setEnabled(false);
    ui.closeProject->setEnabled(false);
    commonOnCloseFileActions();
}

void ZeNoxGuiMainWindow::onOpenProject()
{
    if (!ui.projectView->closeProject())
        return;
    QString file;
    ZeNoxGuiError const r = ui.projectView->openProject(&file);
    if (r == ZE_NOX_GUI_OK) {
        ui.saveProjectAs->setEnabled(true);
        ui.closeProject->setEnabled(true);
        return;
    }
    if (r == ZE_NOX_GUI_CANCELED)
        return;
    // The reason names the file it is about.
    QMessageBox::warning(this, tr("Open Project"),
                         tr("Failed to open a project. %1: %2").arg(ErrToString(r), QDir::toNativeSeparators(file)));
    ui.saveProjectAs->setEnabled(false);
    ui.closeProject->setEnabled(false);
}

// ---- enabled states ----

void ZeNoxGuiMainWindow::updateOpenCloseMenuItemsState()
{
    ZeSplittedPlaybackContainer const* playback = ui.splittedPlaybackContainer;
    bool const left = playback->isLeftFileOpened();
    bool const right = playback->isRightFileOpened();
    bool const ref = playback->isReferenceFileOpened();
    ui.openReferenceFile->setEnabled(left || right);
    ui.closeLeftFile->setEnabled(left);
    ui.closeRightFile->setEnabled(right);
    ui.closeReferenceFile->setEnabled(ref);
    ui.closePair->setEnabled(left && right);
    ui.closeAll->setEnabled(left || right || ref);
}

void ZeNoxGuiMainWindow::updateViewOptionsAndActions()
{
    ZeSplittedPlaybackContainer const* playback = ui.splittedPlaybackContainer;
    bool const lr = playback->isLeftFileOpened() || playback->isRightFileOpened();
    bool const ref = playback->isReferenceFileOpened();
    bool const diff = lr && ref;
    bool const any = lr || ref;

    ui.showLeftRight->setEnabled(lr);
    ui.viewModeLeftRight->setEnabled(lr);
    ui.showReference->setEnabled(ref);
    ui.viewModeReference->setEnabled(ref);
    ui.showLeftRightAndRefDifference->setEnabled(diff);
    ui.viewModeLeftRightAndRefDifference->setEnabled(diff);
    ui.showBlackAndWhiteDifference->setEnabled(diff);
    ui.viewModeBlackAndWhiteDifference->setEnabled(diff);
    if (QAbstractButton* checked = ui.viewModeButtonGroup->checkedButton())
        if (!checked->isEnabled())
            scheduleViewModeCheck();

    ui.showStreamInfo->setEnabled(any);
    m_showComponentActionGroup->setEnabled(any);
    for (QAbstractButton* b : ui.visibleComponentsButtonGroup->buttons())
        b->setEnabled(any);
    m_yuvValuesFormatActionGroup->setEnabled(any);
    for (QAbstractButton* b : ui.yuvValuesFormatButtonGroup->buttons())
        b->setEnabled(any);
}

void ZeNoxGuiMainWindow::updateNavigationButtonsAndActions()
{
    ZeSplittedPlaybackContainer const* playback = ui.splittedPlaybackContainer;
    bool const any = playback->isLeftFileOpened() || playback->isRightFileOpened() || playback->isReferenceFileOpened();
    int const cur = playback->curFrameNumber();
    bool const playing = playback->isPlaying();
    bool const afterFirst = any && !playing && cur > ui.framesSlider->minimum();
    bool const beforeLast = any && cur < ui.framesSlider->maximum();

    ui.showFirstFrame->setEnabled(afterFirst);
    ui.showPrevFrame->setEnabled(afterFirst);
    ui.firstFrameButton->setEnabled(afterFirst);
    ui.prevFrameButton->setEnabled(afterFirst);
    ui.showNextFrame->setEnabled(beforeLast && !playing);
    ui.showLastFrame->setEnabled(beforeLast && !playing);
    ui.nextFrameButton->setEnabled(beforeLast && !playing);
    ui.lastFrameButton->setEnabled(beforeLast && !playing);
    ui.playButton->setEnabled(beforeLast);
    ui.pauseButton->setEnabled(any);
    ui.playPauseAction->setEnabled(any);
}

void ZeNoxGuiMainWindow::updateZoomControls()
{
    ZeSplittedPlaybackContainer const* playback = ui.splittedPlaybackContainer;
    bool const any = playback->isLeftFileOpened() || playback->isRightFileOpened() || playback->isReferenceFileOpened();
    ui.zoomToActualSize->setEnabled(any);
    ui.zoomToWindowSize->setEnabled(any);
    ui.zoomIn->setEnabled(any);
    ui.zoomOut->setEnabled(any);
    ui.zoomToActualSize->setChecked(any && playback->zoomRatio() == 1.0);
}

// ---- close ----

void ZeNoxGuiMainWindow::closeEvent(QCloseEvent* event)
{
    if (!ui.projectView->closeProject()) {
        event->ignore();
        return;
    }
    ZeNoxGuiSettings* settings = Settings();
    settings->saveMainWindowGeometry(saveGeometry());
    settings->saveMainWindowState(saveState(0));
    settings->saveMainWindowVerticalSplitterState(ui.splitter->saveState());
    event->accept();
}

} // namespace ze::nox::gui
