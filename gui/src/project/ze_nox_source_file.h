#pragma once

#include "decoders/ze_nox_decoder.h"
#include "app/ze_nox_gui_errors.h"

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace ze::nox::gui {

// One input stream of the project: a file on disk, the decoder that reads it, the result of
// opening it, its display colour and its roles. Created, owned and deleted by the project; has no
// QObject parent. The frame range lives in the decoder; the setters here write it there.
class ZeNoxSourceFile : public QObject
{
    Q_OBJECT
public:
    enum OpenStatus {
        NotOpened = 0,
        Validating = 1, // declared; nothing sets it
        Opened = 2,
        FailedToOpen = 3,
    };

    // The user's choice of stream type for a file whose name tells none: 0 with the chosen type,
    // or 14 when the user cancelled. Asked by a view; the model never opens a dialog itself.
    using StreamTypeQuestion = std::function<ZeNoxGuiError(QString const& fileName, ze::nox::core::ZeStreamType& type)>;

    // Takes the next colour of the settings' pool. Requires the application object.
    ZeNoxSourceFile();
    ~ZeNoxSourceFile() override;

    // Opens the file once; a second open of a file holding a decoder returns 2 and changes nothing.
    // Without params the stream type is `type` when given, else the one the suffix names; the
    // decoder validates the whole stream. Given params are trusted. 26 for a refused suffix leaves
    // the status as it was; an undetectable type without `type` fails with 6; any other failure
    // sets FailedToOpen.
    ZeNoxGuiError open(QString const& fileName, ze::nox::core::StreamParams const* params,
                       ze::nox::core::ZeStreamType type = ze::nox::core::ZE_STREAM_TYPE_UNKNOWN);
    // True when opening fileName without stored parameters needs the user's choice of stream
    // type: an existing regular file whose suffix names no type and is not refused.
    static bool needsStreamTypeChoice(QString const& fileName);
    // The names offered by that question, "YUV" first; GetStreamTypeByName maps each to its type.
    static QStringList streamTypeChoices();

    // True when the opened file's size or modification time is no longer what it was when it was
    // opened: it was replaced or is being rewritten. A file that is gone counts as unreadable, not
    // as changed.
    bool changedOnDisk() const;
    // Opens the file again as a newly added file (no stored record is used; a stream type the
    // user chose for a name that tells none is kept), with its roles and frame range. Emits
    // changed() while the previous decoder still exists, so that views let go of it; it is
    // deleted afterwards. The result of the open.
    ZeNoxGuiError reopen();

    // Canonical path of the decoder's file (or of the name last opened); empty when it does not exist.
    QString fullFilename() const;
    QString shortFilename() const;
    // The name this file has in the project file: the canonical path, or for a file that is not
    // on disk the name it was opened with made absolute (so that it is found when it comes back).
    QString projectFilename() const;
    OpenStatus openStatus() const { return m_openStatus; }
    QString openStatusString() const;
    static QString openStatusString(OpenStatus status);
    ZeNoxGuiError lastResult() const { return m_lastResult; }
    QColor color() const { return m_color; }
    // Null unless the file is opened; owned by this file.
    ze::nox::core::ZeNoxDecoder* decoder() const { return m_decoder; }

    // Why playback shows no picture of this stream at the moment ("cannot decode frame 12: ...");
    // empty while it does. Not part of the project: setting it emits playbackProblemChanged()
    // (on a change only), not changed().
    QString playbackProblem() const { return m_playbackProblem; }
    void setPlaybackProblem(QString const& problem);

    // Without decoder: an invalid record, 0, empty text, or the default frame range (see the .cpp).
    ze::nox::core::StreamParams streamParams() const;
    ze::nox::core::ZeStreamType streamType() const;
    int width() const;
    int height() const;
    QString pixelFormatName() const;
    int bitrateKbps() const;
    double framerate() const;
    int originalFrameCount() const;
    int firstFrameNumber() const;
    int lastFrameNumber() const;
    int frameCount() const;
    bool isFirstFrameNumberDefault() const;
    bool isLastFrameNumberDefault() const;

    bool isLeftFile() const { return m_isLeftFile; }
    bool isRightFile() const { return m_isRightFile; }
    bool isRefFile() const { return m_isRefFile; }
    // Each call emits changed(), also when the value stays.
    void setIsLeftFile(bool isLeft);
    void setIsRightFile(bool isRight);
    void setIsRefFile(bool isRef);

    // Clamped into the stream (first into 0..last, last into first..count - 1); each emits the
    // decoder's range signal and so changed(). Nothing without decoder.
    void setFirstFrameNumber(int n);
    void setLastFrameNumber(int n);

    // This file's entry of the project file. A file read from an entry that did not open writes
    // the entry's roles, frame range and stored parameters back unchanged.
    void write(QJsonObject& json) const;
    // Opens the file of the entry: with the stored parameters only when the stored checksum is the
    // file's current one and the parameters are plausible, else (also when they fail to open) as
    // a newly added file, asking `ask` for the stream type where the name tells none.
    ZeNoxGuiError read(QJsonObject const& json, StreamTypeQuestion const& ask = StreamTypeQuestion());
    // Raw 16-byte MD5 of the whole file; empty when it is not a readable regular file.
    QByteArray calcFileChecksum(QString const& fileName) const;
    QJsonObject writeStreamParamsToJson(ze::nox::core::StreamParams const& params) const;
    ze::nox::core::StreamParams readStreamParamsFromJson(QJsonObject const& json) const;

signals:
    void changed();
    void playbackProblemChanged();

private:
    ZeNoxGuiError open(ze::nox::core::ZeStreamType type, QString const& fileName,
                       ze::nox::core::ZeNoxDecoder** decoder);
    ZeNoxGuiError openWithParams(QString const& fileName, ze::nox::core::ZeNoxDecoder** decoder,
                                 ze::nox::core::StreamParams const& params);

    QString m_fileName;
    ze::nox::core::ZeNoxDecoder* m_decoder = nullptr;
    OpenStatus m_openStatus = NotOpened;
    ZeNoxGuiError m_lastResult = ZE_NOX_GUI_UNKNOWN_ERROR;
    QColor m_color;
    bool m_isLeftFile = false;
    bool m_isRightFile = false;
    bool m_isRefFile = false;
    // The project file entry this file was read from, written back while it holds no decoder.
    QJsonObject m_storedEntry;
    QString m_playbackProblem;
    // Size and modification time of the file when it was opened.
    qint64 m_openedSize = -1;
    QDateTime m_openedModified;
    // The checksum of the opened contents, once known (verified on load or computed on save):
    // written when the file cannot be read at save time.
    mutable QString m_knownChecksum;

    static int curColorIdx;
};

} // namespace ze::nox::gui
