#include "app/ze_nox_gui_main_window_form.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QSizePolicy>

namespace {

QAction* NewAction(QMainWindow* window, char const* name, bool checkable = false)
{
    auto* action = new QAction(window);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(checkable);
    return action;
}

QToolButton* NewToolButton(QWidget* parent, char const* name, QButtonGroup* group)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setCheckable(true);
    group->addButton(button);
    return button;
}

QPushButton* NewNavigationButton(QWidget* parent, char const* name)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setEnabled(false);
    button->setMinimumSize(32, 32);
    button->setMaximumSize(40, 40);
    return button;
}

QLabel* NewLabel(QWidget* parent, char const* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

// The play and pause buttons: as large as the other navigation buttons grow, so that the
// controls row is no taller than they are.
constexpr int kPlayPauseSize = 36;

QSpacerItem* FixedSpacer()
{
    return new QSpacerItem(16, 20, QSizePolicy::Fixed, QSizePolicy::Minimum);
}

QSpacerItem* ExpandingSpacer()
{
    return new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
}

QHBoxLayout* NewRow(char const* name, int spacing)
{
    auto* layout = new QHBoxLayout();
    layout->setObjectName(QString::fromLatin1(name));
    layout->setSpacing(spacing);
    return layout;
}

QMenu* NewMenu(QWidget* parent, char const* name)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

} // namespace

void Ui_ZeNoxGuiMainWindowClass::setupUi(QMainWindow* window)
{
    using namespace ze::nox::gui;

    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("ZeNoxGuiMainWindowClass"));
    window->resize(1546, 784);

    addFiles = NewAction(window, "addFiles");
    openProject = NewAction(window, "openProject");
    saveProject = NewAction(window, "saveProject");
    saveProject->setEnabled(false);
    saveProjectAs = NewAction(window, "saveProjectAs");
    saveProjectAs->setEnabled(false);
    closeProject = NewAction(window, "closeProject");
    closeProject->setEnabled(false);
    quit = NewAction(window, "quit");
    showLeftRight = NewAction(window, "showLeftRight", true);
    showReference = NewAction(window, "showReference", true);
    showLeftRightAndRefDifference = NewAction(window, "showLeftRightAndRefDifference", true);
    showBlackAndWhiteDifference = NewAction(window, "showBlackAndWhiteDifference", true);
    showStreamInfo = NewAction(window, "showStreamInfo", true);
    resetToDefaultView = NewAction(window, "resetToDefaultView");
    zoomToActualSize = NewAction(window, "zoomToActualSize", true);
    zoomToWindowSize = NewAction(window, "zoomToWindowSize");
    zoomIn = NewAction(window, "zoomIn");
    zoomOut = NewAction(window, "zoomOut");
    toggleFullscreen = NewAction(window, "toggleFullscreen");
    runQualityMetricsAction = NewAction(window, "runQualityMetricsAction");
    runQualityMetricsAction->setEnabled(false);
    runQualityMetricsAction->setShortcutContext(Qt::ApplicationShortcut);
    stopQualityMetricsAction = NewAction(window, "stopQualityMetricsAction");
    stopQualityMetricsAction->setEnabled(false);
    stopQualityMetricsAction->setShortcutContext(Qt::ApplicationShortcut);
    playPauseAction = NewAction(window, "playPauseAction");
    showFirstFrame = NewAction(window, "showFirstFrame");
    showPrevFrame = NewAction(window, "showPrevFrame");
    showNextFrame = NewAction(window, "showNextFrame");
    showLastFrame = NewAction(window, "showLastFrame");
    projectViewAction = NewAction(window, "projectViewAction", true);
    metricsViewAction = NewAction(window, "metricsViewAction", true);
    openDocumentation = NewAction(window, "openDocumentation");
    openAboutDialog = NewAction(window, "openAboutDialog");
    openAboutQtDialog = NewAction(window, "openAboutQtDialog");

    openLeftFile = NewAction(window, "openLeftFile");
    openRightFile = NewAction(window, "openRightFile");
    openPair = NewAction(window, "openPair");
    closeLeftFile = NewAction(window, "closeLeftFile");
    closeRightFile = NewAction(window, "closeRightFile");
    closePair = NewAction(window, "closePair");
    actionPause = NewAction(window, "actionPause");
    framerate25Action = NewAction(window, "framerate25Action", true);
    framerate25Action->setChecked(true);
    framerate5Action = NewAction(window, "framerate5Action", true);
    framerate10Action = NewAction(window, "framerate10Action", true);
    framerate15Action = NewAction(window, "framerate15Action", true);
    framerate20Action = NewAction(window, "framerate20Action", true);
    framerate30Action = NewAction(window, "framerate30Action", true);
    framerate60Action = NewAction(window, "framerate60Action", true);
    setActualSize = NewAction(window, "setActualSize");
    fitToWindow = NewAction(window, "fitToWindow");
    fitToScreen = NewAction(window, "fitToScreen");
    openReferenceFile = NewAction(window, "openReferenceFile");
    closeReferenceFile = NewAction(window, "closeReferenceFile");
    openPairAndReference = NewAction(window, "openPairAndReference");
    closeAll = NewAction(window, "closeAll");
    actiond = NewAction(window, "actiond");
    actione = NewAction(window, "actione");
    actionShow_Pixel_Values = NewAction(window, "actionShow_Pixel_Values");
    actions = NewAction(window, "actions");
    openFiles = NewAction(window, "openFiles");

    viewModeButtonGroup = new QButtonGroup(window);
    viewModeButtonGroup->setObjectName(QStringLiteral("viewModeButtonGroup"));
    visibleComponentsButtonGroup = new QButtonGroup(window);
    visibleComponentsButtonGroup->setObjectName(QStringLiteral("visibleComponentsButtonGroup"));
    yuvValuesFormatButtonGroup = new QButtonGroup(window);
    yuvValuesFormatButtonGroup->setObjectName(QStringLiteral("yuvValuesFormatButtonGroup"));

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));
    gridLayout_4 = new QGridLayout(centralWidget);
    gridLayout_4->setObjectName(QStringLiteral("gridLayout_4"));
    gridLayout_4->setSpacing(6);
    // Narrow margins: every pixel of a short screen that the frame does not take goes to the picture.
    gridLayout_4->setContentsMargins(4, 2, 4, 2);

    // Panels in this order: the project panel connects itself to the project before the
    // metrics panel does.
    splitter = new ZeNoxGuiSplitter(centralWidget);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->setOrientation(Qt::Vertical);
    projectView = new ZeNoxGuiProjectView(splitter);
    projectView->setObjectName(QStringLiteral("projectView"));
    splitter->addWidget(projectView);

    layoutWidget = new QWidget(splitter);
    layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
    gridLayout_3 = new QGridLayout(layoutWidget);
    gridLayout_3->setObjectName(QStringLiteral("gridLayout_3"));
    gridLayout_3->setHorizontalSpacing(6);
    gridLayout_3->setVerticalSpacing(4);
    gridLayout_3->setContentsMargins(-1, 2, -1, 2);

    // The picture takes every pixel the controls below it leave: the largest stretch, and (from
    // the area's own hints) a minimum at which a picture is still worth looking at.
    splittedPlaybackContainer = new ZeSplittedPlaybackContainer(layoutWidget);
    splittedPlaybackContainer->setObjectName(QStringLiteral("splittedPlaybackContainer"));
    QSizePolicy playbackPolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    playbackPolicy.setVerticalStretch(1);
    splittedPlaybackContainer->setSizePolicy(playbackPolicy);
    splittedPlaybackContainer->setFocusPolicy(Qt::StrongFocus);
    gridLayout_3->addWidget(splittedPlaybackContainer, 0, 0, 1, 3);
    gridLayout_3->setRowStretch(0, 1);

    // Row 1, column 0: components, value format, view modes.
    horizontalLayout_7 = NewRow("horizontalLayout_7", 6);
    horizontalLayout_5 = NewRow("horizontalLayout_5", 0);
    visibleComponentsYuv = NewToolButton(layoutWidget, "visibleComponentsYuv", visibleComponentsButtonGroup);
    visibleComponentsY = NewToolButton(layoutWidget, "visibleComponentsY", visibleComponentsButtonGroup);
    visibleComponentsU = NewToolButton(layoutWidget, "visibleComponentsU", visibleComponentsButtonGroup);
    visibleComponentsV = NewToolButton(layoutWidget, "visibleComponentsV", visibleComponentsButtonGroup);
    for (QToolButton* b : {visibleComponentsYuv, visibleComponentsY, visibleComponentsU, visibleComponentsV})
        horizontalLayout_5->addWidget(b);
    horizontalLayout_7->addLayout(horizontalLayout_5);
    horizontalSpacer_3 = FixedSpacer();
    horizontalLayout_7->addItem(horizontalSpacer_3);
    horizontalLayout_4 = NewRow("horizontalLayout_4", 0);
    yuvValuesFormatDec = NewToolButton(layoutWidget, "yuvValuesFormatDec", yuvValuesFormatButtonGroup);
    yuvValuesFormatHex = NewToolButton(layoutWidget, "yuvValuesFormatHex", yuvValuesFormatButtonGroup);
    horizontalLayout_4->addWidget(yuvValuesFormatDec);
    horizontalLayout_4->addWidget(yuvValuesFormatHex);
    horizontalLayout_7->addLayout(horizontalLayout_4);
    horizontalSpacer = ExpandingSpacer();
    horizontalLayout_7->addItem(horizontalSpacer);
    horizontalLayout_6 = NewRow("horizontalLayout_6", 0);
    viewModeLeftRight = NewToolButton(layoutWidget, "viewModeLeftRight", viewModeButtonGroup);
    viewModeReference = NewToolButton(layoutWidget, "viewModeReference", viewModeButtonGroup);
    viewModeLeftRightAndRefDifference =
        NewToolButton(layoutWidget, "viewModeLeftRightAndRefDifference", viewModeButtonGroup);
    viewModeBlackAndWhiteDifference =
        NewToolButton(layoutWidget, "viewModeBlackAndWhiteDifference", viewModeButtonGroup);
    for (QToolButton* b :
         {viewModeLeftRight, viewModeReference, viewModeLeftRightAndRefDifference, viewModeBlackAndWhiteDifference})
        horizontalLayout_6->addWidget(b);
    horizontalLayout_7->addLayout(horizontalLayout_6);
    horizontalSpacer_4 = FixedSpacer();
    horizontalLayout_7->addItem(horizontalSpacer_4);
    gridLayout_3->addLayout(horizontalLayout_7, 1, 0, 1, 1);

    // Row 1, column 1: navigation.
    horizontalLayout = NewRow("horizontalLayout", 6);
    firstFrameButton = NewNavigationButton(layoutWidget, "firstFrameButton");
    prevFrameButton = NewNavigationButton(layoutWidget, "prevFrameButton");
    playbackButtonsStack = new QStackedWidget(layoutWidget);
    playbackButtonsStack->setObjectName(QStringLiteral("playbackButtonsStack"));
    playButtonParent = new QWidget();
    playButtonParent->setObjectName(QStringLiteral("playButtonParent"));
    gridLayout = new QGridLayout(playButtonParent);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setContentsMargins(0, 0, 0, 0);
    playButton = new QPushButton(playButtonParent);
    playButton->setObjectName(QStringLiteral("playButton"));
    playButton->setFixedSize(kPlayPauseSize, kPlayPauseSize);
    gridLayout->addWidget(playButton, 0, 0, 1, 1);
    playbackButtonsStack->addWidget(playButtonParent);
    pauseButtonParent = new QWidget();
    pauseButtonParent->setObjectName(QStringLiteral("pauseButtonParent"));
    gridLayout_2 = new QGridLayout(pauseButtonParent);
    gridLayout_2->setObjectName(QStringLiteral("gridLayout_2"));
    gridLayout_2->setContentsMargins(0, 0, 0, 0);
    pauseButton = new QPushButton(pauseButtonParent);
    pauseButton->setObjectName(QStringLiteral("pauseButton"));
    pauseButton->setFixedSize(kPlayPauseSize, kPlayPauseSize);
    gridLayout_2->addWidget(pauseButton, 0, 0, 1, 1);
    playbackButtonsStack->addWidget(pauseButtonParent);
    // The stack is as large as its button: the controls row keeps its natural height.
    playbackButtonsStack->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    nextFrameButton = NewNavigationButton(layoutWidget, "nextFrameButton");
    lastFrameButton = NewNavigationButton(layoutWidget, "lastFrameButton");
    horizontalLayout->addWidget(firstFrameButton);
    horizontalLayout->addWidget(prevFrameButton);
    horizontalLayout->addWidget(playbackButtonsStack);
    horizontalLayout->addWidget(nextFrameButton);
    horizontalLayout->addWidget(lastFrameButton);
    gridLayout_3->addLayout(horizontalLayout, 1, 1, 1, 1);

    // Row 1, column 2: the heat-map colour bar, no taller than the navigation buttons.
    horizontalLayout_3 = NewRow("horizontalLayout_3", 6);
    horizontalSpacer_5 = FixedSpacer();
    horizontalLayout_3->addItem(horizontalSpacer_5);
    heatmapColorbar = new ZeNoxGuiHeatmapColorbar(layoutWidget);
    heatmapColorbar->setObjectName(QStringLiteral("heatmapColorbar"));
    horizontalLayout_3->addWidget(heatmapColorbar);
    horizontalSpacer_2 = ExpandingSpacer();
    horizontalLayout_3->addItem(horizontalSpacer_2);
    gridLayout_3->addLayout(horizontalLayout_3, 1, 2, 1, 1);

    // Row 2: the frame slider, which only shows the position, then zoom, current frame and frame
    // rate. With these labels in the first row the window would be wider than a 1366-pixel
    // screen while the colour bar shows.
    horizontalLayout_2 = NewRow("horizontalLayout_2", 6);
    label_2 = NewLabel(layoutWidget, "label_2");
    framesSlider = new QSlider(layoutWidget);
    framesSlider->setObjectName(QStringLiteral("framesSlider"));
    framesSlider->setEnabled(false);
    framesSlider->setMaximum(1);
    framesSlider->setOrientation(Qt::Horizontal);
    framesSlider->setTickPosition(QSlider::NoTicks);
    totalFrameCountLabel = NewLabel(layoutWidget, "totalFrameCountLabel");
    horizontalLayout_2->addWidget(label_2);
    horizontalLayout_2->addWidget(framesSlider);
    horizontalLayout_2->addWidget(totalFrameCountLabel);
    horizontalLayout_2->addItem(FixedSpacer());
    label_4 = NewLabel(layoutWidget, "label_4");
    zoomRatio = NewLabel(layoutWidget, "zoomRatio");
    horizontalLayout_2->addWidget(label_4);
    horizontalLayout_2->addWidget(zoomRatio);
    horizontalSpacer_6 = FixedSpacer();
    horizontalLayout_2->addItem(horizontalSpacer_6);
    label_6 = NewLabel(layoutWidget, "label_6");
    curFrameNum = NewLabel(layoutWidget, "curFrameNum");
    horizontalLayout_2->addWidget(label_6);
    horizontalLayout_2->addWidget(curFrameNum);
    horizontalSpacer_7 = FixedSpacer();
    horizontalLayout_2->addItem(horizontalSpacer_7);
    label_5 = NewLabel(layoutWidget, "label_5");
    curFps = NewLabel(layoutWidget, "curFps");
    label_3 = NewLabel(layoutWidget, "label_3");
    horizontalLayout_2->addWidget(label_5);
    horizontalLayout_2->addWidget(curFps);
    horizontalLayout_2->addWidget(label_3);
    gridLayout_3->addLayout(horizontalLayout_2, 2, 0, 1, 3);

    splitter->addWidget(layoutWidget);
    metricsView = new ZeMetricsView(splitter);
    metricsView->setObjectName(QStringLiteral("metricsView"));
    splitter->addWidget(metricsView);
    gridLayout_4->addWidget(splitter, 0, 0, 1, 1);
    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menu_File = NewMenu(menuBar, "menu_File");
    menu_View = NewMenu(menuBar, "menu_View");
    showComponentsMenu = NewMenu(menu_View, "showComponentsMenu");
    yuvValuesFormatMenu = NewMenu(menu_View, "yuvValuesFormatMenu");
    menuMetrics = NewMenu(menuBar, "menuMetrics");
    menuPlayback = NewMenu(menuBar, "menuPlayback");
    menuFramerate = NewMenu(menuPlayback, "menuFramerate");
    menuWindow = NewMenu(menuBar, "menuWindow");
    menuHelp = NewMenu(menuBar, "menuHelp");
    window->setMenuBar(menuBar);

    menuBar->addAction(menu_File->menuAction());
    menuBar->addAction(menu_View->menuAction());
    menuBar->addAction(menuMetrics->menuAction());
    menuBar->addAction(menuPlayback->menuAction());
    menuBar->addAction(menuWindow->menuAction());
    menuBar->addAction(menuHelp->menuAction());

    menu_File->addAction(addFiles);
    menu_File->addSeparator();
    menu_File->addAction(openProject);
    menu_File->addAction(saveProject);
    menu_File->addAction(saveProjectAs);
    menu_File->addAction(closeProject);
    menu_File->addSeparator();
    menu_File->addAction(quit);

    menu_View->addAction(showLeftRight);
    menu_View->addAction(showReference);
    menu_View->addAction(showLeftRightAndRefDifference);
    menu_View->addAction(showBlackAndWhiteDifference);
    menu_View->addSeparator();
    menu_View->addAction(showStreamInfo);
    menu_View->addAction(showComponentsMenu->menuAction());
    menu_View->addAction(yuvValuesFormatMenu->menuAction());
    menu_View->addSeparator();
    menu_View->addAction(resetToDefaultView);
    menu_View->addAction(zoomToActualSize);
    menu_View->addAction(zoomToWindowSize);
    menu_View->addAction(zoomIn);
    menu_View->addAction(zoomOut);
    menu_View->addSeparator();
    menu_View->addAction(toggleFullscreen);
    menu_View->addSeparator();

    menuMetrics->addAction(runQualityMetricsAction);
    menuMetrics->addAction(stopQualityMetricsAction);

    menuPlayback->addAction(playPauseAction);
    menuPlayback->addAction(menuFramerate->menuAction());
    menuPlayback->addSeparator();
    menuPlayback->addAction(showFirstFrame);
    menuPlayback->addAction(showPrevFrame);
    menuPlayback->addAction(showNextFrame);
    menuPlayback->addAction(showLastFrame);

    menuWindow->addAction(projectViewAction);
    menuWindow->addAction(metricsViewAction);

    menuHelp->addAction(openDocumentation);
    menuHelp->addAction(openAboutDialog);
    menuHelp->addAction(openAboutQtDialog);

    retranslateUi(window);
    // Nothing plays yet: the play button shows.
    playbackButtonsStack->setCurrentIndex(0);
    QMetaObject::connectSlotsByName(window);
}

void Ui_ZeNoxGuiMainWindowClass::retranslateUi(QMainWindow* window)
{
    auto tr = [](char const* text) { return QCoreApplication::translate("ZeNoxGuiMainWindowClass", text); };
    auto key = [&tr](char const* text) { return QKeySequence(tr(text)); };

    window->setWindowTitle(QString());
    addFiles->setText(tr("Add Files..."));
    openProject->setText(tr("Open Project..."));
    openProject->setShortcut(key("Ctrl+O"));
    saveProject->setText(tr("Save Project"));
    saveProjectAs->setText(tr("Save As..."));
    closeProject->setText(tr("Close Project"));
    quit->setText(tr("Quit"));
    showLeftRight->setText(tr("Show Left/Right"));
    showLeftRight->setShortcut(key("F1"));
    showReference->setText(tr("Show Reference"));
    showReference->setShortcut(key("F2"));
    showLeftRightAndRefDifference->setText(tr("Show Left/Right and Reference Difference"));
    showLeftRightAndRefDifference->setShortcut(key("F3"));
    showBlackAndWhiteDifference->setText(tr("Show B/W Difference"));
    showBlackAndWhiteDifference->setShortcut(key("F4"));
    showStreamInfo->setText(tr("Show Stream Info"));
    resetToDefaultView->setText(tr("Reset to Default View"));
    zoomToActualSize->setText(tr("Actual Size"));
    zoomToActualSize->setShortcut(key("Ctrl+0"));
    zoomToWindowSize->setText(tr("Fit to Window"));
    zoomToWindowSize->setShortcut(key("Ctrl+1"));
    zoomIn->setText(tr("Zoom In"));
    zoomOut->setText(tr("Zoom Out"));
    toggleFullscreen->setText(tr("Enter Full Screen"));
    toggleFullscreen->setShortcut(key("Ctrl+Alt+F"));
    runQualityMetricsAction->setText(tr("Run"));
    runQualityMetricsAction->setShortcut(key("Ctrl+M, Ctrl+R"));
    stopQualityMetricsAction->setText(tr("Stop"));
    stopQualityMetricsAction->setShortcut(key("Ctrl+M, Ctrl+S"));
    playPauseAction->setText(tr("Play/Pause"));
    playPauseAction->setShortcut(key("Space"));
    showFirstFrame->setText(tr("First Frame"));
    showFirstFrame->setShortcut(key("Ctrl+Alt+Left"));
    showPrevFrame->setText(tr("Previous Frame"));
    showPrevFrame->setShortcut(key("Ctrl+Left"));
    showNextFrame->setText(tr("Next Frame"));
    showNextFrame->setShortcut(key("Ctrl+Right"));
    showLastFrame->setText(tr("Last Frame"));
    showLastFrame->setShortcut(key("Ctrl+Alt+Right"));
    projectViewAction->setText(tr("&Project View"));
    projectViewAction->setShortcut(key("Ctrl+Shift+P"));
    metricsViewAction->setText(tr("&Metrics View"));
    metricsViewAction->setShortcut(key("Ctrl+Shift+M"));
    openDocumentation->setText(tr("Documentation"));
    openAboutDialog->setText(tr("&About..."));
    openAboutQtDialog->setText(tr("Qt Usage..."));

    openLeftFile->setText(tr("Open Left..."));
    openRightFile->setText(tr("Open Right..."));
    openPair->setText(tr("Open Pair.."));
    closeLeftFile->setText(tr("Close Left"));
    closeRightFile->setText(tr("Close Right"));
    closePair->setText(tr("Close Pair"));
    actionPause->setText(tr("Pause"));
    framerate25Action->setText(tr("25 fps"));
    framerate5Action->setText(tr("5 fps"));
    framerate10Action->setText(tr("10 fps"));
    framerate15Action->setText(tr("15 fps"));
    framerate20Action->setText(tr("20 fps"));
    framerate30Action->setText(tr("30 fps"));
    framerate60Action->setText(tr("60 fps"));
    setActualSize->setText(tr("Actual Size"));
    fitToWindow->setText(tr("Fit to Window"));
    fitToScreen->setText(tr("Fit to Screen"));
    openReferenceFile->setText(tr("Open Reference..."));
    closeReferenceFile->setText(tr("Close Reference"));
    openPairAndReference->setText(tr("Open Pair + Reference..."));
    closeAll->setText(tr("Close All Video Files"));
    actiond->setText(tr("d"));
    actione->setText(tr("e"));
    actionShow_Pixel_Values->setText(tr("Show Pixel Values "));
    actions->setText(tr("s"));
    openFiles->setText(tr("&Open Video File(s)..."));

    visibleComponentsYuv->setText(tr("YUV"));
    visibleComponentsY->setText(tr("Y"));
    visibleComponentsU->setText(tr("U"));
    visibleComponentsV->setText(tr("V"));
    yuvValuesFormatDec->setText(tr("dec"));
    yuvValuesFormatHex->setText(tr("hex"));
    viewModeLeftRight->setText(tr("L|R"));
    viewModeReference->setText(tr("Ref"));
    viewModeLeftRightAndRefDifference->setText(tr("L|R / Ref Diff"));
    viewModeBlackAndWhiteDifference->setText(tr("B/W Diff"));
    firstFrameButton->setText(QString());
    prevFrameButton->setText(QString());
    playButton->setText(QString());
    pauseButton->setText(QString());
    nextFrameButton->setText(QString());
    lastFrameButton->setText(QString());
    label_4->setText(tr("Zoom:"));
    zoomRatio->setText(tr("x1.0"));
    label_6->setText(tr("Current Frame:"));
    curFrameNum->setText(tr("0"));
    label_5->setText(tr("Framerate:"));
    curFps->setText(tr("0"));
    label_3->setText(tr("fps"));
    label_2->setText(tr("0"));
    totalFrameCountLabel->setText(tr("0"));

    menu_File->setTitle(tr("&File"));
    menu_View->setTitle(tr("&View"));
    showComponentsMenu->setTitle(tr("Show Component(s)"));
    yuvValuesFormatMenu->setTitle(tr("YUV Values Format"));
    menuMetrics->setTitle(tr("Metrics"));
    menuPlayback->setTitle(tr("Playback"));
    menuFramerate->setTitle(tr("Framerate"));
    menuWindow->setTitle(tr("&Window"));
    menuHelp->setTitle(tr("&Help"));
}
