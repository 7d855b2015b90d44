#pragma once

#include "app/ze_nox_gui_main_window_form.h"

#include <QActionGroup>
#include <QMainWindow>
#include <QMetaObject>

class QCloseEvent;

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fitToScreen();

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
    // Set while files replaced on disk are opened again for the playback area.
    bool m_reopeningFiles = false;
};

} // namespace ze::nox::gui
