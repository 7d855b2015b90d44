#include "project/ze_nox_gui_project_view.h"

#include "ui_ze_nox_gui_project_view.h"

#include "decoders/ze_nox_decoder_factory.h"
#include "app/ze_nox_gui_app.h"
#include "project/ze_nox_gui_project.h"
#include "app/ze_nox_gui_settings.h"
#include "app/ze_nox_gui_utils.h"
#include "metrics_panel/ze_nox_rd_curve.h"
#include "project/ze_nox_source_file.h"
#include "common/ze_stream.h"

#include <QCheckBox>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace ze::nox::gui {

using ze::nox::core::ZeNoxDecoder;

namespace {

ZeNoxGuiProject* Project()
{
    ZeNoxGuiApp* const app = theApp();
    return app ? app->project() : nullptr;
}

ZeNoxGuiSettings* Settings()
{
    ZeNoxGuiApp* const app = theApp();
    return app ? app->settings() : nullptr;
}

ZeNoxSourceFile* SrcFileOf(QVariant const& v)
{
    return qobject_cast<ZeNoxSourceFile*>(v.value<ZeNoxSourceFile*>());
}

constexpr int kFirstRoleColumn = ZeNoxGuiProjectView::COLUMN_LEFT;
constexpr int kLastRoleColumn = ZeNoxGuiProjectView::COLUMN_REF;
constexpr int kColumnCount = ZeNoxGuiProjectView::COLUMN_STATUS + 1;

} // namespace

EditorDelegate::EditorDelegate(int srcFileColumn, int firstFrameColumn, int lastFrameColumn, QObject* parent)
    : QItemDelegate(parent), m_srcFileColumn(srcFileColumn), m_firstFrameColumn(firstFrameColumn),
      m_lastFrameColumn(lastFrameColumn)
{
}

QWidget* EditorDelegate::createEditor(QWidget* parent, QStyleOptionViewItem const&, QModelIndex const& index) const
{
    if (index.column() != m_firstFrameColumn && index.column() != m_lastFrameColumn)
        return nullptr;
    ZeNoxSourceFile const* const file = SrcFileOf(index.sibling(index.row(), m_srcFileColumn).data(Qt::UserRole));
    if (!file)
        return nullptr;
    auto* editor = new QSpinBox(parent);
    if (index.column() == m_firstFrameColumn)
        editor->setRange(0, file->lastFrameNumber());
    else
        editor->setRange(file->firstFrameNumber(), file->originalFrameCount() - 1);
    return editor;
}

ZeNoxGuiProjectView::ZeNoxGuiProjectView(QWidget* parent) : QWidget(parent), m_ui(new Ui_ZeNoxGuiProjectView)
{
    m_allSupportedFilter = tr("All Supported Video Files (*.h264 *.264 *.avc *.h265 *.265 *.hevc *.vvc *.av1 *.obu "
                              "*.ivf *.mjpeg *.yuv *.y4m)");
    m_openFilesFilters = tr("H.264/AVC (*.h264 *.264 *.avc);;H.265/HEVC (*.h265 *.265 *.hevc);;H.266/VVC (*.vvc);;"
                            "AV1 (*.av1 *.obu *.ivf);;MJPEG (*.mjpeg);;YUV files (*.yuv *.y4m);;") +
                         m_allSupportedFilter + QStringLiteral(";;") + tr("All Files (*.*)");
    m_ui->setupUi(this);
    // Every pixel of height to the rows: tabs beside the lists, no margins around them.
    utils::PlaceTabsBeside(m_ui->tabWidget);
    m_ui->gridLayout_3->setContentsMargins(0, 0, 0, 0);
    for (QGridLayout* page : {m_ui->gridLayout, m_ui->gridLayout_2})
        page->setContentsMargins(0, 0, 0, 0);

    m_ui->fileList->setItemDelegate(new EditorDelegate(COLUMN_NUMBER, COLUMN_FIRST_FRAME, COLUMN_LAST_FRAME, this));

    m_filesTabText = m_ui->tabWidget->tabText(m_ui->tabWidget->indexOf(m_ui->srcFilesTab));
    m_rdCurvesTabText = m_ui->tabWidget->tabText(m_ui->tabWidget->indexOf(m_ui->rdCurvesTab));

    if (ZeNoxGuiProject* const project = Project()) {
        connect(project, &ZeNoxGuiProject::nameChanged, this, &ZeNoxGuiProjectView::nameChanged);
        connect(project, &ZeNoxGuiProject::projectChanged, this, &ZeNoxGuiProjectView::unsavedChangesStatusChanged);
        connect(project, &ZeNoxGuiProject::projectChanged, this, &ZeNoxGuiProjectView::onProjectChanged);
        connect(project, &ZeNoxGuiProject::projectChanged, this, &ZeNoxGuiProjectView::changed);
        connect(project, &ZeNoxGuiProject::srcFileAdded, this, &ZeNoxGuiProjectView::onNewSrcFileAdded);
        connect(project, &ZeNoxGuiProject::srcFileAboutToRemove, this, &ZeNoxGuiProjectView::onSrcFileAboutToRemove,
                Qt::DirectConnection);
        connect(project, &ZeNoxGuiProject::srcFileChanged, this, &ZeNoxGuiProjectView::onSrcFileChanged);
        connect(project, &ZeNoxGuiProject::rdCurveChanged, this, &ZeNoxGuiProjectView::onRdCurveChanged);
    }
    connect(m_ui->fileList, &StreamListTreeWidget::contextMenuRequired, this,
            &ZeNoxGuiProjectView::showItemContextMenu);
    connect(m_ui->fileList, &QTreeWidget::itemChanged, this, &ZeNoxGuiProjectView::onSrcFileItemChanged);
    connect(m_ui->rdCurveList, &RdCurveListTreeWidget::changed, this, &ZeNoxGuiProjectView::changed);

    clearErrorMessage();
    addStubItem();
    updateTabsText();

    QTimer::singleShot(500, this, [this] { showHowtoMessageBox(HOWTO_ADD_FILE); });
}

ZeNoxGuiProjectView::~ZeNoxGuiProjectView()
{
    delete m_ui;
}

QSize ZeNoxGuiProjectView::sizeHint() const
{
    StreamListTreeWidget const* list = m_ui->fileList;
    QSize const least = minimumSizeHint();
    return QSize(least.width(), least.height() + list->heightForRows(StreamListTreeWidget::kPreferredRows) -
                                    list->heightForRows(StreamListTreeWidget::kMinimumRows));
}

ZeNoxDecoder* ZeNoxGuiProjectView::getDecoder(QTreeWidgetItem const*) const
{
    return nullptr;
}

void ZeNoxGuiProjectView::addStubItem()
{
    StreamListTreeWidget* const list = m_ui->fileList;
    auto* item = new QTreeWidgetItem(list);
    for (int column = kFirstRoleColumn; column <= kLastRoleColumn; ++column) {
        auto* box = new QCheckBox(list);
        box->setEnabled(false);
        // A click must not give the box the focus: the list would first scroll the focused cell
        // into view, so that a half-visible row moves away under the pointer and the click
        // misses the box. The keyboard still reaches it.
        box->setFocusPolicy(Qt::TabFocus);
        list->setItemWidget(item, column, box);
        list->resizeColumnToContents(column);
        item->setTextAlignment(column, Qt::AlignCenter);
        connect(
            box, &QCheckBox::stateChanged, box,
            [this, item, column](int state) { onRoleStateChanged(item, column, state); }, Qt::DirectConnection);
    }
    int const h = list->sizeHintForRow(0);
    auto* add = new QToolButton(list);
    add->setText(QStringLiteral("+"));
    add->setFixedSize(int(h * 1.5), h);
    list->setItemWidget(item, COLUMN_BUTTON, add);
    item->setTextAlignment(COLUMN_BUTTON, Qt::AlignCenter);
    connect(
        add, &QToolButton::clicked, this, [this] { addSrcFiles(QStringList()); }, Qt::DirectConnection);
    for (int column = 0; column < kColumnCount; ++column)
        list->resizeColumnToContents(column);
    // The row's buttons set the row height, which the list's least height follows.
    list->updateGeometry();
}

void ZeNoxGuiProjectView::onNewSrcFileAdded(ZeNoxSourceFile* srcFile)
{
    StreamListTreeWidget* const list = m_ui->fileList;
    if (list->topLevelItemCount() == 0)
        return;
    QTreeWidgetItem* const item = list->topLevelItem(list->topLevelItemCount() - 1);

    QWidget* const add = list->itemWidget(item, COLUMN_BUTTON);
    QSize const size = add ? add->size() : QSize();
    list->removeItemWidget(item, COLUMN_BUTTON);
    auto* remove = new QToolButton(list);
    remove->setText(QStringLiteral("-"));
    if (size.isValid())
        remove->setFixedSize(size);
    list->setItemWidget(item, COLUMN_BUTTON, remove);
    list->resizeColumnToContents(COLUMN_BUTTON);
    item->setTextAlignment(COLUMN_BUTTON, Qt::AlignCenter);
    // The row (and this button with it) goes while the project removes the file; the view
    // deletes item widgets later, so the button outlives its own click.
    connect(
        remove, &QToolButton::clicked, this, [this, item] { removeSrcFile(getSrcFile(item)); }, Qt::DirectConnection);

    item->setData(COLUMN_NUMBER, Qt::UserRole, QVariant::fromValue(srcFile));
    updateItem(item);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    for (int column = 0; column < kColumnCount; ++column)
        list->resizeColumnToContents(column);

    onFileListChanged();
    showHowtoMessageBox(HOWTO_ADD_FILES_TO_RD_CURVE);
    updateTabsText();
}

void ZeNoxGuiProjectView::updateItem(QTreeWidgetItem* item)
{
    ZeNoxSourceFile* const file = getSrcFile(item);
    if (!file)
        return;
    StreamListTreeWidget* const list = m_ui->fileList;
    ZeNoxGuiProject* const project = Project();

    bool usedInCurve = false;
    if (project)
        for (ZeNoxRdCurve const* curve : project->rdCurves())
            usedInCurve = usedInCurve || curve->srcFiles().contains(file);

    auto box = [list, item](int column) { return qobject_cast<QCheckBox*>(list->itemWidget(item, column)); };
    // The boxes' handlers run at once on each change, as for a click; the row may be redrawn
    // meanwhile, so every box is looked up again.
    if (QCheckBox* b = box(COLUMN_LEFT)) {
        b->setEnabled(true);
        b->setChecked(file->isLeftFile());
    }
    if (QCheckBox* b = box(COLUMN_RIGHT)) {
        b->setEnabled(true);
        b->setChecked(file->isRightFile());
    }
    if (QCheckBox* b = box(COLUMN_REF)) {
        if (usedInCurve) {
            b->setEnabled(false);
            b->setToolTip(tr("File cannot be set as reference because it is already used in RD Curve(s)"));
        } else {
            b->setEnabled(true);
            b->setToolTip(QString());
        }
        b->setChecked(file->isRefFile());
    }

    item->setText(COLUMN_FILENAME, file->shortFilename());
    item->setText(COLUMN_TYPE, ze::nox::core::GetStreamTypeName(file->streamType()));
    item->setText(COLUMN_RESOLUTION, QStringLiteral("%1x%2").arg(file->width()).arg(file->height()));
    item->setText(COLUMN_PIXEL_FORMAT, file->pixelFormatName());
    item->setText(COLUMN_BITRATE, QString::number(file->bitrateKbps()));
    item->setText(COLUMN_FRAMERATE, QString::number(file->framerate(), 'f', 2));
    item->setText(COLUMN_FIRST_FRAME, QString::number(file->firstFrameNumber()));
    item->setText(COLUMN_LAST_FRAME, QString::number(file->lastFrameNumber()));
    item->setText(COLUMN_FRAMES_COUNT, QString::number(file->frameCount()));
    item->setText(COLUMN_ORIGINAL_FRAMES_COUNT, QString::number(file->originalFrameCount()));

    QColor const orange(255, 155, 0);
    item->setForeground(COLUMN_FIRST_FRAME, file->isFirstFrameNumberDefault() ? QBrush() : QBrush(orange));
    item->setForeground(COLUMN_LAST_FRAME, file->isLastFrameNumberDefault() ? QBrush() : QBrush(orange));

    if (file->openStatus() == ZeNoxSourceFile::FailedToOpen) {
        for (int column = 0; column < kColumnCount; ++column) {
            if (column >= kFirstRoleColumn && column <= kLastRoleColumn) {
                if (QCheckBox* b = box(column)) {
                    b->setEnabled(false);
                    b->setChecked(false);
                }
            }
            if (column != COLUMN_NUMBER && column != COLUMN_FILENAME)
                item->setText(column, QString());
            item->setForeground(column, QBrush(Qt::red));
        }
    } else if (!file->playbackProblem().isEmpty()) {
        item->setForeground(COLUMN_STATUS, QBrush(QColor(176, 0, 0)));
    } else {
        item->setForeground(COLUMN_STATUS,
                            QBrush(file->openStatus() == ZeNoxSourceFile::Opened ? Qt::darkGreen : Qt::black));
    }

    QString status = file->openStatusString();
    if (file->openStatus() == ZeNoxSourceFile::FailedToOpen)
        status += QStringLiteral(" (%1)").arg(ErrToString(file->lastResult()));
    else if (!file->playbackProblem().isEmpty())
        status += QStringLiteral(" (%1)").arg(file->playbackProblem());
    item->setText(COLUMN_STATUS, status);
}

void ZeNoxGuiProjectView::updateAllItems()
{
    StreamListTreeWidget* const list = m_ui->fileList;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        updateItem(list->topLevelItem(i));
}

QTreeWidgetItem* ZeNoxGuiProjectView::findItemBySrcFile(ZeNoxSourceFile const* srcFile) const
{
    if (!srcFile)
        return nullptr;
    StreamListTreeWidget* const list = m_ui->fileList;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (getSrcFile(list->topLevelItem(i)) == srcFile)
            return list->topLevelItem(i);
    return nullptr;
}

ZeNoxSourceFile* ZeNoxGuiProjectView::getSrcFile(QTreeWidgetItem const* item) const
{
    return item ? SrcFileOf(item->data(COLUMN_NUMBER, Qt::UserRole)) : nullptr;
}

bool ZeNoxGuiProjectView::isValidItem(QTreeWidgetItem const* item) const
{
    return getSrcFile(item) != nullptr;
}

bool ZeNoxGuiProjectView::isStubItem(QTreeWidgetItem const* item) const
{
    StreamListTreeWidget* const list = m_ui->fileList;
    return item && list->topLevelItemCount() > 0 && list->topLevelItem(list->topLevelItemCount() - 1) == item &&
           !getSrcFile(item);
}

void ZeNoxGuiProjectView::onRoleStateChanged(QTreeWidgetItem* item, int column, int state)
{
    StreamListTreeWidget* const list = m_ui->fileList;
    bool const checked = state == Qt::Checked;
    if (checked) {
        for (int c = kFirstRoleColumn; c <= kLastRoleColumn; ++c)
            if (auto* b = qobject_cast<QCheckBox*>(list->itemWidget(item, c)))
                b->setChecked(c == column);
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* const other = list->topLevelItem(i);
            if (other == item)
                continue;
            if (auto* b = qobject_cast<QCheckBox*>(list->itemWidget(other, column)))
                b->setChecked(false);
        }
    }
    if (ZeNoxSourceFile* const file = getSrcFile(item)) {
        if (column == COLUMN_LEFT)
            file->setIsLeftFile(checked);
        else if (column == COLUMN_RIGHT)
            file->setIsRightFile(checked);
        else if (column == COLUMN_REF)
            file->setIsRefFile(checked);
    }
    applyChanges();
}

void ZeNoxGuiProjectView::onSrcFileItemChanged(QTreeWidgetItem* item, int column)
{
    if (column != COLUMN_FIRST_FRAME && column != COLUMN_LAST_FRAME)
        return;
    ZeNoxSourceFile* const file = getSrcFile(item);
    if (!file)
        return;
    bool ok = false;
    int const n = item->text(column).toInt(&ok, 10);
    if (!ok)
        return;
    if (column == COLUMN_FIRST_FRAME)
        file->setFirstFrameNumber(n);
    else
        file->setLastFrameNumber(n);
}

void ZeNoxGuiProjectView::onFileListChanged()
{
    StreamListTreeWidget* const list = m_ui->fileList;
    int n = 1;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* const item = list->topLevelItem(i);
        if (isStubItem(item))
            continue;
        item->setText(COLUMN_NUMBER, QString::number(n++));
    }
    if (list->topLevelItemCount() == 0 || isValidItem(list->topLevelItem(list->topLevelItemCount() - 1)))
        addStubItem();
    applyChanges();
}

void ZeNoxGuiProjectView::applyChanges()
{
    QStringList problems;
    if (ZeNoxGuiProject* const project = Project()) {
        QString details;
        QList<ZeNoxDecoder const*> decoders;
        for (ZeNoxDecoder const* d : project->getAllDecoders({ZeNoxSourceFile::Opened}))
            decoders.append(d);
        if (ze::nox::core::CheckFilesForConsistency(decoders, details) != ze::nox::core::ZE_NOX_CORE_OK)
            problems.append(tr("Files are not consistent. ") + details);
    }
    if (problems.isEmpty()) {
        clearErrorMessage();
    } else {
        QString message;
        for (QString const& problem : problems)
            message += QStringLiteral("%1- %2").arg(message.isEmpty() ? QString() : QStringLiteral("\n"), problem);
        showWarningMessage(message);
    }
    emit changed(problems.isEmpty());
}

void ZeNoxGuiProjectView::clearErrorMessage()
{
    // An empty consistency line takes no room from the file list.
    m_ui->errorIcon->clear();
    m_ui->errorMsg->clear();
    m_ui->errorIcon->hide();
    m_ui->errorMsg->hide();
}

void ZeNoxGuiProjectView::showWarningMessage(QString const& text)
{
    m_ui->errorIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(m_ui->errorIcon->size()));
    m_ui->errorMsg->setText(text);
    m_ui->errorIcon->show();
    m_ui->errorMsg->show();
}

void ZeNoxGuiProjectView::showErrorMessage(QString const& text)
{
    m_ui->errorIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(m_ui->errorIcon->size()));
    m_ui->errorMsg->setText(text);
    m_ui->errorIcon->show();
    m_ui->errorMsg->show();
}

void ZeNoxGuiProjectView::updateTabsText()
{
    ZeNoxGuiProject* const project = Project();
    int const files = project ? int(project->sourceFiles().size()) : 0;
    QList<ZeNoxRdCurve*> const curves = project ? project->rdCurves() : QList<ZeNoxRdCurve*>();
    int const empty =
        int(std::count_if(curves.begin(), curves.end(), [](ZeNoxRdCurve const* c) { return c->srcFiles().isEmpty(); }));
    m_ui->tabWidget->setTabText(m_ui->tabWidget->indexOf(m_ui->srcFilesTab),
                                QStringLiteral("%1 (%2)").arg(m_filesTabText).arg(files));
    m_ui->tabWidget->setTabText(m_ui->tabWidget->indexOf(m_ui->rdCurvesTab),
                                QStringLiteral("%1 (%2%3)")
                                    .arg(m_rdCurvesTabText)
                                    .arg(curves.size())
                                    .arg(empty > 0 ? tr(", %1 empty").arg(empty) : QString()));
}

void ZeNoxGuiProjectView::onProjectChanged()
{
    updateTabsText();
    updateAllItems();
}

void ZeNoxGuiProjectView::onSrcFileChanged(ZeNoxSourceFile const* srcFile)
{
    updateItem(findItemBySrcFile(srcFile));
}

void ZeNoxGuiProjectView::onRdCurveChanged(ZeNoxRdCurve const*)
{
    updateAllItems();
}

void ZeNoxGuiProjectView::onSrcFileAboutToRemove(ZeNoxSourceFile* srcFile)
{
    StreamListTreeWidget* const list = m_ui->fileList;
    if (QTreeWidgetItem* const item = findItemBySrcFile(srcFile))
        delete list->takeTopLevelItem(list->indexOfTopLevelItem(item));
    onFileListChanged();
}

// ---- commands ----

ZeNoxGuiError ZeNoxGuiProjectView::openProject(QString* fileName)
{
    ZeNoxGuiProject* const project = Project();
    ZeNoxGuiSettings* const settings = Settings();
    if (!project || !settings)
        return ZE_NOX_GUI_INTERNAL_ERROR;
    QString const file =
        QFileDialog::getOpenFileName(this, tr("Open Project"), settings->projectSettings().getLastOpenedFileDir(),
                                     tr("Seravin Project (*.%1)").arg(ZeNoxGuiProject::fileExt()));
    if (file.isEmpty())
        return ZE_NOX_GUI_CANCELED;
    if (fileName)
        *fileName = file;
    settings->projectSettings().saveLastOpenedFileDir(QFileInfo(file).dir().path());
    ZeNoxGuiError const result = project->loadFromFile(
        file, [this](QString const& name, ze::nox::core::ZeStreamType& type) { return askStreamType(name, type); });
    ZeNoxGuiApp::LogProjectLoad(file, result, project->sourceFiles().size(), project->rdCurves().size());
    return result;
}

ZeNoxGuiError ZeNoxGuiProjectView::askStreamType(QString const& fileName, ze::nox::core::ZeStreamType& type)
{
    bool ok = false;
    // The chooser's list is as wide as its title needs, so the title is never cut.
    QString const chosen = utils::ChooseItem(this, tr("Choose codec type"),
                                             tr("Codec type for %1").arg(QFileInfo(fileName).completeBaseName()),
                                             ZeNoxSourceFile::streamTypeChoices(), &ok);
    if (!ok || chosen.isEmpty())
        return ZE_NOX_GUI_CANCELED;
    type = ze::nox::core::GetStreamTypeByName(chosen);
    return ZE_NOX_GUI_OK;
}

void ZeNoxGuiProjectView::saveProject()
{
    if (ZeNoxGuiProject* const project = Project())
        saveProjectImpl(project->fileName());
}

void ZeNoxGuiProjectView::saveProjectAs()
{
    saveProjectImpl(QString());
}

bool ZeNoxGuiProjectView::saveProjectImpl(QString const& fileName)
{
    ZeNoxGuiProject* const project = Project();
    ZeNoxGuiSettings* const settings = Settings();
    if (!project || !settings)
        return false;
    QString reason;
    auto reportFailure = [this, &reason](QString const& target) {
        QMessageBox::critical(
            this, tr("Save Project"),
            tr("Failed to save the project to %1.\n%2").arg(QDir::toNativeSeparators(target), reason));
    };
    if (!fileName.isEmpty()) {
        if (project->saveToFile(&reason) == ZE_NOX_GUI_OK)
            return true;
        reportFailure(fileName);
        return false;
    }
    QString file =
        QFileDialog::getSaveFileName(this, tr("Save Project"), settings->projectSettings().getLastOpenedFileDir(),
                                     tr("Seravin Project (*.%1)").arg(ZeNoxGuiProject::fileExt()));
    if (file.isEmpty())
        return false;
    // The open dialog lists project files by their suffix only.
    QString const ext = ZeNoxGuiProject::fileExt();
    if (QFileInfo(file).suffix().compare(ext, Qt::CaseInsensitive) != 0) {
        file += QLatin1Char('.') + ext;
        // The dialog asked about replacing the name as typed, not this one.
        if (QFileInfo::exists(file) &&
            QMessageBox::question(
                this, tr("Save Project"),
                tr("%1 already exists.\nDo you want to replace it?").arg(QDir::toNativeSeparators(file)),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
            return false;
    }
    settings->projectSettings().saveLastOpenedFileDir(QFileInfo(file).dir().path());
    if (project->saveToFileAs(file, QFileInfo(file).completeBaseName(), &reason) == ZE_NOX_GUI_OK)
        return true;
    reportFailure(file);
    return false;
}

bool ZeNoxGuiProjectView::closeProject()
{
    ZeNoxGuiProject* const project = Project();
    if (!project)
        return true;
    if (project->hasUnsavedChanges()) {
        QMessageBox::StandardButton const answer = QMessageBox::question(
            this, tr("Close Project"),
            tr("Project '%1' has unsaved changes. Would you like to save changes?").arg(project->name()),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::NoButton);
        if (answer == QMessageBox::Cancel || answer == QMessageBox::Escape || answer == QMessageBox::NoButton)
            return false;
        // The user asked to keep the changes: a cancelled save dialog or a failed save keeps the
        // project open instead of dropping them.
        if (answer == QMessageBox::Yes && !saveProjectImpl(project->fileName()))
            return false;
    }
    project->close();
    return true;
}

void ZeNoxGuiProjectView::addSrcFiles(QStringList const& filenames)
{
    ZeNoxGuiProject* const project = Project();
    ZeNoxGuiSettings* const settings = Settings();
    if (!project || !settings)
        return;
    // A file added mid-run would leave the run unfinished.
    if (m_locked) {
        QMessageBox::information(this, tr("Add File(s)"),
                                 tr("Files cannot be added while quality metrics are being computed. Stop the "
                                    "calculation or wait until it has finished."));
        return;
    }
    QString filter = settings->getLastOpenFilesFilter();
    if (filter.isEmpty())
        filter = m_allSupportedFilter;
    QStringList names = filenames;
    if (names.isEmpty())
        names = QFileDialog::getOpenFileNames(this, tr("Add File(s)"), settings->getLastOpenedInputFileDir(),
                                              m_openFilesFilters, &filter);
    for (QString const& name : names) {
        if (name.isEmpty())
            continue;
        QFileInfo const info(name);
        settings->saveLastOpenedInputFileDir(info.path());
        settings->saveLastOpenFilesFilter(filter);
        if (info.suffix() == ZeNoxGuiProject::fileExt()) {
            QMessageBox::information(this, tr("Add File"),
                                     tr("You are trying to add a project file. If you want to open this project "
                                        "file, please, use 'File > Open Project...' instead."));
            continue;
        }
        ze::nox::core::ZeStreamType type = ze::nox::core::ZE_STREAM_TYPE_UNKNOWN;
        // A name already in the project is refused by the project without a question.
        if (!project->srcFileByName(name) && ZeNoxSourceFile::needsStreamTypeChoice(name) &&
            askStreamType(name, type) != ZE_NOX_GUI_OK)
            continue;
        ZeNoxGuiError const res = project->addSourceFile(name, type);
        if (res == ZE_NOX_GUI_OK || res == ZE_NOX_GUI_CANCELED)
            continue;
        QString const text = tr("Failed to add source file %1. %2").arg(name, ErrToString(res));
        qWarning().noquote() << text;
        QMessageBox::warning(this, tr("Add Source File"), text);
    }
}

void ZeNoxGuiProjectView::onMetricsStarted()
{
    m_locked = true;
    for (int i = 0; i < m_ui->tabWidget->count(); ++i)
        m_ui->tabWidget->widget(i)->setEnabled(false);
}

void ZeNoxGuiProjectView::onMetricsStopped()
{
    m_locked = false;
    for (int i = 0; i < m_ui->tabWidget->count(); ++i)
        m_ui->tabWidget->widget(i)->setEnabled(true);
}

void ZeNoxGuiProjectView::removeSrcFile(ZeNoxSourceFile* srcFile)
{
    ZeNoxGuiProject* const project = Project();
    if (project && srcFile)
        project->removeSourceFile(srcFile);
}

void ZeNoxGuiProjectView::removeItem(QTreeWidgetItem* item, bool removeSourceFile)
{
    StreamListTreeWidget* const list = m_ui->fileList;
    // The stub row stays for good.
    if (!item || isStubItem(item) || list->indexOfTopLevelItem(item) < 0)
        return;
    list->takeTopLevelItem(list->indexOfTopLevelItem(item));
    ZeNoxSourceFile* const file = getSrcFile(item);
    if (file && removeSourceFile) {
        emit aboutToRemoveFile(file);
        if (ZeNoxGuiProject* const project = Project())
            project->removeSourceFile(file);
    }
    delete item;
    onFileListChanged();
}

void ZeNoxGuiProjectView::removeSelectedItems()
{
    StreamListTreeWidget* const list = m_ui->fileList;
    QList<QTreeWidgetItem*> const selected = list->selectedItems();
    for (QTreeWidgetItem* item : selected) {
        int const index = list->indexOfTopLevelItem(item);
        if (index < 0 || isStubItem(item))
            continue;
        list->takeTopLevelItem(index);
        if (ZeNoxSourceFile* const file = getSrcFile(item)) {
            emit aboutToRemoveFile(file);
            if (ZeNoxGuiProject* const project = Project())
                project->removeSourceFile(file);
        }
        delete item;
        onFileListChanged();
    }
}

void ZeNoxGuiProjectView::showItemContextMenu(QPoint const& pos, QTreeWidgetItem*)
{
    ZeNoxGuiProject* const project = Project();
    StreamListTreeWidget* const list = m_ui->fileList;
    QList<QTreeWidgetItem*> const selected = list->selectedItems();
    if (!project || selected.isEmpty())
        return;

    QList<ZeNoxSourceFile*> files;
    bool anyRef = false;
    bool anyNotOpened = false;
    bool stubSelected = false;
    for (QTreeWidgetItem* item : selected) {
        stubSelected = stubSelected || isStubItem(item);
        if (ZeNoxSourceFile* const file = getSrcFile(item)) {
            files.append(file);
            anyRef = anyRef || file->isRefFile();
            anyNotOpened = anyNotOpened || file->openStatus() != ZeNoxSourceFile::Opened;
        }
    }
    QString const cannotAdd =
        tr("File cannot be added to RD Curve because it has been already added, or it is a reference file");
    QString const notOpened = tr("A file that is not opened cannot be added to RD Curve");

    QMenu menu(this);
    QMenu* const curvesMenu = menu.addMenu(tr("Add to RD Curve"));
    curvesMenu->setToolTipsVisible(true);
    for (ZeNoxRdCurve* curve : project->rdCurves()) {
        QAction* const action = curvesMenu->addAction(curve->name());
        bool const anyInCurve = std::any_of(files.begin(), files.end(),
                                            [curve](ZeNoxSourceFile const* f) { return curve->containsSrcFile(f); });
        if (files.isEmpty() || anyRef || anyInCurve) {
            action->setEnabled(false);
            action->setToolTip(cannotAdd);
        }
        connect(action, &QAction::triggered, this, [this, curve, files] {
            for (ZeNoxSourceFile const* f : files)
                curve->addSrcFile(f);
            showHowtoMessageBox(HOWTO_ADD_REMOVE_RD_CURVE);
        });
    }
    curvesMenu->addSeparator();
    QAction* const newCurve = curvesMenu->addAction(tr("New RD Curve..."));
    connect(newCurve, &QAction::triggered, this, [this, project, files] {
        // Only the curve made by this one command receives the files.
        QMetaObject::Connection const c = connect(
            project, &ZeNoxGuiProject::rdCurveAdded, this,
            [this, files](ZeNoxRdCurve* curve) {
                for (ZeNoxSourceFile const* f : files)
                    curve->addSrcFile(f);
                showHowtoMessageBox(HOWTO_ADD_REMOVE_RD_CURVE);
            },
            Qt::DirectConnection);
        m_ui->rdCurveList->addNewRdCurve();
        disconnect(c);
    });
    // Only opened files go into curves: a curve is measured from its files' decoders.
    if (anyRef || anyNotOpened) {
        curvesMenu->setEnabled(false);
        menu.setToolTipsVisible(true);
        curvesMenu->menuAction()->setToolTip(anyRef ? cannotAdd : notOpened);
    }

    QAction* const remove = menu.addAction(tr("Remove"));
    remove->setEnabled(!stubSelected);
    connect(remove, &QAction::triggered, this, &ZeNoxGuiProjectView::removeSelectedItems);
    menu.addSeparator();

    ZeNoxSourceFile* const single = selected.size() == 1 ? getSrcFile(selected.first()) : nullptr;
    auto othersDiffer = [this, list, single](auto value) {
        if (!single || list->topLevelItemCount() < 3)
            return false;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            ZeNoxSourceFile const* const other = getSrcFile(list->topLevelItem(i));
            if (other && other != single && value(other) != value(single))
                return true;
        }
        return false;
    };
    auto applyToOthers = [this, list, single](auto apply) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            ZeNoxSourceFile* const other = getSrcFile(list->topLevelItem(i));
            if (other && other != single)
                apply(other);
        }
    };
    QAction* const applyFirst = menu.addAction(tr("Apply First Frame Number to Others"));
    applyFirst->setEnabled(othersDiffer([](ZeNoxSourceFile const* f) { return f->firstFrameNumber(); }));
    connect(applyFirst, &QAction::triggered, this, [applyToOthers, single] {
        int const n = single->firstFrameNumber();
        applyToOthers([n](ZeNoxSourceFile* f) { f->setFirstFrameNumber(n); });
    });
    QAction* const applyLast = menu.addAction(tr("Apply Last Frame Number to Others"));
    applyLast->setEnabled(othersDiffer([](ZeNoxSourceFile const* f) { return f->lastFrameNumber(); }));
    connect(applyLast, &QAction::triggered, this, [applyToOthers, single] {
        int const n = single->lastFrameNumber();
        applyToOthers([n](ZeNoxSourceFile* f) { f->setLastFrameNumber(n); });
    });

    menu.exec(pos);
}

void ZeNoxGuiProjectView::showHowtoMessageBox(HowtoMessageBoxType type)
{
    struct Message
    {
        QString title;
        QString text;
    };
    static QHash<HowtoMessageBoxType, Message> const messages = {
        {HOWTO_ADD_FILE, {tr("How to add file(s)"), tr("Press any '+' button to add file(s)")}},
        {HOWTO_ADD_FILES_TO_RD_CURVE,
         {tr("How to add files to RD Curve"),
          tr("Select one or more files, and press the right mouse button. Then you will be able to add the selected "
             "file(s) to an RD Curve as well as remove them.\n\nNote: a reference file cannot be added to an RD "
             "Curve")}},
        {HOWTO_ADD_REMOVE_RD_CURVE,
         {tr("How to add or remove RD Curve"),
          tr("Press the right mouse button on an RD Curve to remove it\n\nPress the right mouse button anywhere on "
             "the RD Curves tab to add a new RD Curve")}},
    };
    ZeNoxGuiSettings* const settings = Settings();
    if (!settings || !messages.contains(type))
        return;
    ProjectViewSettings& view = settings->projectViewSettings();
    bool const show = type == HOWTO_ADD_FILE                ? view.getShowHowtoAddFile()
                      : type == HOWTO_ADD_FILES_TO_RD_CURVE ? view.getShowHowtoAddFilesToRdCurve()
                                                            : view.getShowHowtoAddRemoveRdCurve();
    if (!show || m_shownHowtoBoxes.value(type, false))
        return;

    Message const& message = messages[type];
    QMessageBox box(QMessageBox::Information, message.title, message.text);
    auto* doNotShow = new QCheckBox(tr("Do not show again"));
    box.setCheckBox(doNotShow);
    box.exec();
    bool const again = !doNotShow->isChecked();
    if (type == HOWTO_ADD_FILE)
        view.saveShowHowtoAddFile(again);
    else if (type == HOWTO_ADD_FILES_TO_RD_CURVE)
        view.saveShowHowtoAddFilesToRdCurve(again);
    else
        view.saveShowHowtoAddRemoveRdCurve(again);
    m_shownHowtoBoxes[type] = true;
}

} // namespace ze::nox::gui
