#pragma once

// The main window's form, built in code: every action, widget, layout and button group of the
// window, all owned by the Qt parent tree of the window. Texts are set by retranslateUi.

#include "metrics_panel/ze_metrics_view.h"
#include "playback/ze_nox_gui_heatmap_colorbar.h"
#include "project/ze_nox_gui_project_view.h"
#include "app/ze_nox_gui_splitter.h"
#include "playback/ze_splitted_playback_container.h"

#include <QAction>
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QToolButton>
#include <QWidget>

class Ui_ZeNoxGuiMainWindowClass
{
public:
    // Menu actions.
    QAction* addFiles = nullptr;
    QAction* openProject = nullptr;
    QAction* saveProject = nullptr;
    QAction* saveProjectAs = nullptr;
    QAction* closeProject = nullptr;
    QAction* quit = nullptr;
    QAction* showLeftRight = nullptr;
    QAction* showReference = nullptr;
    QAction* showLeftRightAndRefDifference = nullptr;
    QAction* showBlackAndWhiteDifference = nullptr;
    QAction* showStreamInfo = nullptr;
    QAction* resetToDefaultView = nullptr;
    QAction* zoomToActualSize = nullptr;
    QAction* zoomToWindowSize = nullptr;
    QAction* zoomIn = nullptr;
    QAction* zoomOut = nullptr;
    QAction* toggleFullscreen = nullptr;
    QAction* runQualityMetricsAction = nullptr;
    QAction* stopQualityMetricsAction = nullptr;
    QAction* playPauseAction = nullptr;
    QAction* showFirstFrame = nullptr;
    QAction* showPrevFrame = nullptr;
    QAction* showNextFrame = nullptr;
    QAction* showLastFrame = nullptr;
    QAction* projectViewAction = nullptr;
    QAction* metricsViewAction = nullptr;
    QAction* openDocumentation = nullptr;
    QAction* openAboutDialog = nullptr;
    QAction* openAboutQtDialog = nullptr;

    // Actions in no menu and no widget.
    QAction* openLeftFile = nullptr;
    QAction* openRightFile = nullptr;
    QAction* openPair = nullptr;
    QAction* closeLeftFile = nullptr;
    QAction* closeRightFile = nullptr;
    QAction* closePair = nullptr;
    QAction* actionPause = nullptr;
    QAction* framerate25Action = nullptr;
    QAction* framerate5Action = nullptr;
    QAction* framerate10Action = nullptr;
    QAction* framerate15Action = nullptr;
    QAction* framerate20Action = nullptr;
    QAction* framerate30Action = nullptr;
    QAction* framerate60Action = nullptr;
    QAction* setActualSize = nullptr;
    QAction* fitToWindow = nullptr;
    QAction* fitToScreen = nullptr;
    QAction* openReferenceFile = nullptr;
    QAction* closeReferenceFile = nullptr;
    QAction* openPairAndReference = nullptr;
    QAction* closeAll = nullptr;
    QAction* actiond = nullptr;
    QAction* actione = nullptr;
    QAction* actionShow_Pixel_Values = nullptr;
    QAction* actions = nullptr;
    QAction* openFiles = nullptr;

    QWidget* centralWidget = nullptr;
    QGridLayout* gridLayout_4 = nullptr;
    ze::nox::gui::ZeNoxGuiSplitter* splitter = nullptr;
    ze::nox::gui::ZeNoxGuiProjectView* projectView = nullptr;
    QWidget* layoutWidget = nullptr;
    QGridLayout* gridLayout_3 = nullptr;
    ze::nox::gui::ZeSplittedPlaybackContainer* splittedPlaybackContainer = nullptr;
    QHBoxLayout* horizontalLayout_7 = nullptr;
    QHBoxLayout* horizontalLayout_5 = nullptr;
    QToolButton* visibleComponentsYuv = nullptr;
    QToolButton* visibleComponentsY = nullptr;
    QToolButton* visibleComponentsU = nullptr;
    QToolButton* visibleComponentsV = nullptr;
    QSpacerItem* horizontalSpacer_3 = nullptr;
    QHBoxLayout* horizontalLayout_4 = nullptr;
    QToolButton* yuvValuesFormatDec = nullptr;
    QToolButton* yuvValuesFormatHex = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QHBoxLayout* horizontalLayout_6 = nullptr;
    QToolButton* viewModeLeftRight = nullptr;
    QToolButton* viewModeReference = nullptr;
    QToolButton* viewModeLeftRightAndRefDifference = nullptr;
    QToolButton* viewModeBlackAndWhiteDifference = nullptr;
    QSpacerItem* horizontalSpacer_4 = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QPushButton* firstFrameButton = nullptr;
    QPushButton* prevFrameButton = nullptr;
    QStackedWidget* playbackButtonsStack = nullptr;
    QWidget* playButtonParent = nullptr;
    QGridLayout* gridLayout = nullptr;
    QPushButton* playButton = nullptr;
    QWidget* pauseButtonParent = nullptr;
    QGridLayout* gridLayout_2 = nullptr;
    QPushButton* pauseButton = nullptr;
    QPushButton* nextFrameButton = nullptr;
    QPushButton* lastFrameButton = nullptr;
    QHBoxLayout* horizontalLayout_3 = nullptr;
    QSpacerItem* horizontalSpacer_5 = nullptr;
    ze::nox::gui::ZeNoxGuiHeatmapColorbar* heatmapColorbar = nullptr;
    QSpacerItem* horizontalSpacer_2 = nullptr;
    QLabel* label_4 = nullptr;
    QLabel* zoomRatio = nullptr;
    QSpacerItem* horizontalSpacer_6 = nullptr;
    QLabel* label_6 = nullptr;
    QLabel* curFrameNum = nullptr;
    QSpacerItem* horizontalSpacer_7 = nullptr;
    QLabel* label_5 = nullptr;
    QLabel* curFps = nullptr;
    QLabel* label_3 = nullptr;
    QHBoxLayout* horizontalLayout_2 = nullptr;
    QLabel* label_2 = nullptr;
    QSlider* framesSlider = nullptr;
    QLabel* totalFrameCountLabel = nullptr;
    ze::nox::gui::ZeMetricsView* metricsView = nullptr;

    QMenuBar* menuBar = nullptr;
    QMenu* menu_File = nullptr;
    QMenu* menu_View = nullptr;
    QMenu* showComponentsMenu = nullptr;
    QMenu* yuvValuesFormatMenu = nullptr;
    QMenu* menuMetrics = nullptr;
    QMenu* menuPlayback = nullptr;
    QMenu* menuFramerate = nullptr;
    QMenu* menuWindow = nullptr;
    QMenu* menuHelp = nullptr;

    QButtonGroup* viewModeButtonGroup = nullptr;
    QButtonGroup* visibleComponentsButtonGroup = nullptr;
    QButtonGroup* yuvValuesFormatButtonGroup = nullptr;

    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};
