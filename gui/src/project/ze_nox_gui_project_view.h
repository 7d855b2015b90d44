#pragma once

#include "app/ze_nox_gui_errors.h"
#include "common/ze_stream.h"

#include <QHash>
#include <QItemDelegate>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

class QTreeWidgetItem;
class Ui_ZeNoxGuiProjectView;

namespace ze::nox::core {
class ZeNoxDecoder;
}

namespace ze::nox::gui {

class ZeNoxRdCurve;
class ZeNoxSourceFile;

// Spin-box editors for the first and last frame numbers of a file row; no editor elsewhere.
class EditorDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    EditorDelegate(int srcFileColumn, int firstFrameColumn, int lastFrameColumn, QObject* parent);

    QWidget* createEditor(QWidget* parent, QStyleOptionViewItem const& option, QModelIndex const& index) const override;

private:
    int m_srcFileColumn;
    int m_firstFrameColumn;
    int m_lastFrameColumn;
};

// The project panel: the file list with roles and frame ranges, the RD curve list, and the
// project commands (open, save, close, add and remove files). Keeps no copy of the model.
class ZeNoxGuiProjectView : public QWidget
{
    Q_OBJECT
public:
    enum ColumnType {
        COLUMN_NUMBER = 0,
        COLUMN_BUTTON = 1,
        COLUMN_LEFT = 2,
        COLUMN_RIGHT = 3,
        COLUMN_REF = 4,
        COLUMN_FILENAME = 5,
        COLUMN_TYPE = 6,
        COLUMN_RESOLUTION = 7,
        COLUMN_PIXEL_FORMAT = 8,
        COLUMN_BITRATE = 9,
        COLUMN_FRAMERATE = 10,
        COLUMN_FIRST_FRAME = 11,
        COLUMN_LAST_FRAME = 12,
        COLUMN_FRAMES_COUNT = 13,
        COLUMN_ORIGINAL_FRAMES_COUNT = 14,
        COLUMN_STATUS = 15,
    };

    enum HowtoMessageBoxType {
        HOWTO_ADD_FILE = 0,
        HOWTO_ADD_FILES_TO_RD_CURVE = 1,
        HOWTO_ADD_REMOVE_RD_CURVE = 2,
    };

    explicit ZeNoxGuiProjectView(QWidget* parent = nullptr);
    ~ZeNoxGuiProjectView() override;

    // The least height shows the file list's header and three rows; the preferred one five.
    QSize sizeHint() const override;

    // No row carries a decoder of its own: always null.
    ze::nox::core::ZeNoxDecoder* getDecoder(QTreeWidgetItem const* item) const;

public slots:
    // 14 when the dialog is cancelled, else the project's load result; the chosen file's name in
    // *fileName when given.
    ZeNoxGuiError openProject(QString* fileName = nullptr);
    // False when the user keeps the project (Cancel, or a save that did not happen).
    bool closeProject();
    void saveProject();
    void saveProjectAs();
    void onMetricsStarted();
    void onMetricsStopped();
    // An empty list asks for the names in the add-files dialog. Refused with a message while
    // quality metrics are being computed.
    void addSrcFiles(QStringList const& filenames = QStringList());

signals:
    void changed(bool configurationValid);
    void nameChanged();
    void unsavedChangesStatusChanged(bool projectHasUnsavedChanges);
    void aboutToRemoveFile(ze::nox::gui::ZeNoxSourceFile* srcFile);

private slots:
    void onProjectChanged();
    void onNewSrcFileAdded(ze::nox::gui::ZeNoxSourceFile* srcFile);
    void onSrcFileAboutToRemove(ze::nox::gui::ZeNoxSourceFile* srcFile);
    void onSrcFileChanged(ze::nox::gui::ZeNoxSourceFile const* srcFile);
    void onRdCurveChanged(ze::nox::gui::ZeNoxRdCurve const* rdCurve);
    void onSrcFileItemChanged(QTreeWidgetItem* item, int column);
    void updateTabsText();
    void removeSrcFile(ze::nox::gui::ZeNoxSourceFile* srcFile);
    void removeItem(QTreeWidgetItem* item, bool removeSourceFile = true);
    void showItemContextMenu(QPoint const& pos, QTreeWidgetItem* item);

private:
    void addStubItem();
    void updateItem(QTreeWidgetItem* item);
    void updateAllItems();
    QTreeWidgetItem* findItemBySrcFile(ZeNoxSourceFile const* srcFile) const;
    ZeNoxSourceFile* getSrcFile(QTreeWidgetItem const* item) const;
    bool isValidItem(QTreeWidgetItem const* item) const;
    bool isStubItem(QTreeWidgetItem const* item) const;
    void applyChanges();
    void onFileListChanged();
    void clearErrorMessage();
    void showWarningMessage(QString const& text);
    void showErrorMessage(QString const& text);
    void onRoleStateChanged(QTreeWidgetItem* item, int column, int state);
    void removeSelectedItems();
    // True when the project was written; a failed write is shown in a message box.
    bool saveProjectImpl(QString const& fileName);
    // The codec question for a file whose name tells no stream type: 0 and the type, or 14.
    ZeNoxGuiError askStreamType(QString const& fileName, ze::nox::core::ZeStreamType& type);
    void showHowtoMessageBox(HowtoMessageBoxType type);

    Ui_ZeNoxGuiProjectView* m_ui = nullptr;
    QString m_filesTabText;
    QString m_rdCurvesTabText;
    QString m_allSupportedFilter;
    QString m_openFilesFilters;
    QHash<HowtoMessageBoxType, bool> m_shownHowtoBoxes;
    // From onMetricsStarted to onMetricsStopped: the project takes no new files.
    bool m_locked = false;
};

} // namespace ze::nox::gui
