#pragma once

#include "app/ze_nox_gui_main_window_form.h"

#include <QActionGroup>
#include <QMainWindow>
#include <QList>
#include <QMargins>
#include <QMetaObject>
#include <QRect>

class QCloseEvent;
class QShowEvent;

namespace ze::nox::core {
class ZeNoxDecoder;
}

namespace ze::nox::gui {

// The one main window: the project panel, the comparison block (playback area, its buttons and
// labels, the frame slider) and the metrics panel in a vertical splitter, with the menus that
// drive them. Keeps its title in step with the project and saves its layout on close.
// GUI thread only.
class ZeNoxGuiMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit ZeNoxGuiMainWindow(QWidget* parent = nullptr);
    ~ZeNoxGuiMainWindow() override;

    // First start: the window, its frame counted, fills the area (a screen's available geometry)
    // and the panes get their first heights for it. The frame is the window manager's, known
    // only once the window is shown; it is taken into account then.
    void fitToScreenArea(QRect const& area, QMargins const& frame = QMargins());
    // Heights of the project panel, the picture block and the metrics panel at first start in a
    // window of that height: the side panels' preferred heights, less where the picture would
    // have less than half the window, never below a pane's least height.
    QList<int> firstStartPaneHeights(int windowHeight) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void applyFirstStartPaneHeights(int windowHeight);
    // Restores the saved pane heights; false (nothing restored) when there are none or one is
    // below its pane's least height.
    bool restoreSplitter(QByteArray const& state);
    void refitToFrame(int triesLeft);

private slots:
    void setCurTitle();
    void closeProject();
    void closeLeftFile();
    void closeRightFile();
    void closeReferenceFile();
    void commonOnCloseFileActions();
    void closeFile(core::ZeNoxDecoder* dec);
    void setFrameRangeLabelsValues(int min, int max);
    void showAboutDialog();
    void selectPrevAvailableViewMode();

private:
    void initViewModeGroup();
    void initShowComponentsGroup();
    void initYuvValuesFormatGroup();
    void initFrameRateGroup();
    void connectMainMenuActions();
    void initMainMenuItems();

    void updateOpenCloseMenuItemsState();
    void updateViewOptionsAndActions();
    void updateNavigationButtonsAndActions();
    void updateZoomControls();
    // Help > Documentation; without a browser a message shows the address.
    void openDocumentation();
    // Runs selectPrevAvailableViewMode() after the current event when the checked mode is off.
    void scheduleViewModeCheck();

    // Handlers of the panels' signals.
    void onViewModeToggled(int id);
    void onComponentToggled(int id);
    void onYuvValuesFormatToggled(int id);
    void onUnsavedChangesStatusChanged(bool hasUnsavedChanges);
    void onProjectViewChanged();
    void onCurFrameChanged(int frameNum);
    void onZoomRatioChanged(double ratio);
    void onProjectClosed();
    void onOpenProject();
    void connectFrameRange();

    Ui_ZeNoxGuiMainWindowClass ui;
    QActionGroup* m_viewModeActionGroup = nullptr;
    QActionGroup* m_showComponentActionGroup = nullptr;
    QActionGroup* m_yuvValuesFormatActionGroup = nullptr;
    QActionGroup* m_frameRateActionGroup = nullptr;
    // The slider's range to the total-frame label; cut while a close sets the range.
    QMetaObject::Connection m_frameRangeConnection;
    bool m_viewModeCheckPending = false;
    // The first start's area, fitted again once the window manager has framed the window.
    QRect m_fitArea;
    // What the first show does: nothing (all restored), the first pane heights, or those and the
    // fit to the screen area with the window manager's frame.
    enum FirstShow { FIRST_SHOW_RESTORED, FIRST_SHOW_PANES, FIRST_SHOW_FIT };
    FirstShow m_firstShow = FIRST_SHOW_RESTORED;
    static constexpr int kRefitTries = 40;
    static constexpr int kRefitInterval = 50; // ms
    // Set while files replaced on disk are opened again for the playback area.
    bool m_reopeningFiles = false;
};

} // namespace ze::nox::gui
