#include "project/ze_nox_source_file.h"

#include "decoders/ffmpeg_utils.h"
#include "common/ze_nox_core_supported_features.h"
#include "decoders/ze_nox_decoder_factory.h"
#include "common/ze_stream.h"
#include "app/ze_nox_gui_app.h"
#include "app/ze_nox_gui_settings.h"
#include "app/ze_nox_gui_utils.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonValue>
#include <QSet>
#include <QStringList>

extern "C" {
#include <libavutil/imgutils.h>
}

#include <QSignalBlocker>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>

namespace ze::nox::gui {

using namespace ze::nox::core;

int ZeNoxSourceFile::curColorIdx = 0;

namespace {

// Suffixes of containers, audio, images, documents and archives: never a stream of ours.
QSet<QString> const kRefusedSuffixes = {
    QStringLiteral("mp4"),  QStringLiteral("mkv"), QStringLiteral("mnt"),   QStringLiteral("avi"),
    QStringLiteral("ts"),   QStringLiteral("ps"),  QStringLiteral("mpeg2"), QStringLiteral("webm"),
    QStringLiteral("mov"),  QStringLiteral("mp3"), QStringLiteral("asf"),   QStringLiteral("ivf"),
    QStringLiteral("flv"),  QStringLiteral("wmv"), QStringLiteral("idx"),   QStringLiteral("md5"),
    QStringLiteral("jpg"),  QStringLiteral("bmp"), QStringLiteral("gif"),   QStringLiteral("tiff"),
    QStringLiteral("png"),  QStringLiteral("txt"), QStringLiteral("doc"),   QStringLiteral("rtf"),
    QStringLiteral("docx"), QStringLiteral("xls"), QStringLiteral("xlsx"),  QStringLiteral("xlsm"),
    QStringLiteral("csv"),  QStringLiteral("pdf"), QStringLiteral("rar"),   QStringLiteral("zip"),
};

// An integral JSON number that an int holds; fallback for anything else (a fraction, a string,
// a value beyond the int range, which must not be cast).
int JsonInt(QJsonValue const& v, int fallback)
{
    if (!v.isDouble())
        return fallback;
    double const d = v.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || d < double(INT_MIN) || d > double(INT_MAX))
        return fallback;
    return static_cast<int>(d);
}

// Stored parameters are trusted by the decoders without a validation pass, so only a record that
// an opened decoder could have made is used: a known type, a picture size FFmpeg can allocate, an
// accepted pixel format, a crop inside the picture and no more frames than the file has bytes.
bool PlausibleParams(StreamParams const& p, qint64 fileSize)
{
    if (p.type < ZE_STREAM_TYPE_YUV || p.type > ZE_STREAM_TYPE_MJPEG)
        return false;
    if (p.width < 1 || p.height < 1 || (qint64(p.width) + 128) * (qint64(p.height) + 128) >= INT_MAX / 8)
        return false;
    if (p.pixFmt == AV_PIX_FMT_NONE || !ZeNoxCoreSupportedFeatures::m_pixFmts.contains(p.pixFmt))
        return false;
    if (p.frames < 1 || qint64(p.frames) > fileSize)
        return false;
    // A raw file holds whole pictures of this geometry: a record whose one picture is larger than
    // the file describes another file (and would allocate that picture for nothing).
    if (p.type == ZE_STREAM_TYPE_YUV) {
        int const frameBytes = av_image_get_buffer_size(p.pixFmt, p.width, p.height, 1);
        if (frameBytes < 1 || qint64(frameBytes) > fileSize)
            return false;
    }
    CropInfo const& c = p.crop;
    return c.left >= 0 && c.right >= 0 && c.top >= 0 && c.bottom >= 0 && qint64(c.left) + c.right < p.width &&
           qint64(c.top) + c.bottom < p.height;
}

// A record is the file's only when the file's own signature shows the record's type; a raw
// record only when the file shows the signature of no other type.
bool RecordTypeAgrees(ZeStreamType recorded, QString const& fileName)
{
    ZeStreamType const shown = DetectStreamTypeByContent(fileName);
    if (recorded == ZE_STREAM_TYPE_YUV)
        return shown == ZE_STREAM_TYPE_UNKNOWN || shown == ZE_STREAM_TYPE_YUV;
    return shown == recorded;
}

} // namespace

ZeNoxSourceFile::ZeNoxSourceFile() : QObject(nullptr)
{
    ZeNoxGuiApp* const app = theApp();
    if (app && app->settings())
        m_color = app->settings()->getColorFromPool(curColorIdx);
    ++curColorIdx;
}

ZeNoxSourceFile::~ZeNoxSourceFile()
{
    delete m_decoder;
    m_decoder = nullptr;
}

bool ZeNoxSourceFile::needsStreamTypeChoice(QString const& fileName)
{
    QFileInfo const info(fileName);
    return info.isFile() && DetectStreamTypeByFilename(fileName) == ZE_STREAM_TYPE_UNKNOWN &&
           !kRefusedSuffixes.contains(info.suffix().toLower());
}

QStringList ZeNoxSourceFile::streamTypeChoices()
{
    return {tr("YUV"),
            GetStreamTypeName(ZE_STREAM_TYPE_AVC),
            GetStreamTypeName(ZE_STREAM_TYPE_HEVC),
            GetStreamTypeName(ZE_STREAM_TYPE_AV1),
            GetStreamTypeName(ZE_STREAM_TYPE_VVC),
            GetStreamTypeName(ZE_STREAM_TYPE_MJPEG)};
}

ZeNoxGuiError ZeNoxSourceFile::open(QString const& fileName, StreamParams const* params, ZeStreamType type)
{
    // A source file is opened once: its decoder, status and last result are kept.
    if (m_decoder)
        return ZE_NOX_GUI_INTERNAL_ERROR;
    m_fileName = fileName;
    m_openStatus = NotOpened;
    m_lastResult = ZE_NOX_GUI_UNKNOWN_ERROR;

    QFileInfo const info(fileName);
    if (!info.exists()) {
        qWarning() << "Opening project file: file" << fileName << "doesn't exist";
        m_openStatus = FailedToOpen;
        m_lastResult = ZE_NOX_GUI_FILE_DOES_NOT_EXIST;
        return m_lastResult;
    }
    // A device, pipe or folder would never end a validation pass or a checksum.
    if (!info.isFile()) {
        qWarning() << "Opening project file: file" << fileName << "is not a regular file";
        m_openStatus = FailedToOpen;
        m_lastResult = ZE_NOX_GUI_FAILED_TO_OPEN_FILE;
        return m_lastResult;
    }

    // Taken before the open reads the file: a change made meanwhile shows at the next check.
    qint64 const size = info.size();
    QDateTime const modified = info.lastModified();
    ZeNoxGuiError result = ZE_NOX_GUI_OK;
    if (params) {
        result = openWithParams(fileName, &m_decoder, *params);
    } else {
        if (type == ZE_STREAM_TYPE_UNKNOWN) {
            type = DetectStreamTypeByFilename(fileName);
            if (type == ZE_STREAM_TYPE_UNKNOWN && kRefusedSuffixes.contains(info.suffix().toLower()))
                return ZE_NOX_GUI_UNSUPPORTED_FILE_FORMAT;
        }
        // Without a type from the name or from the caller the file cannot be read.
        result =
            type == ZE_STREAM_TYPE_UNKNOWN ? ZE_NOX_GUI_STREAM_TYPE_NOT_DETECTED : open(type, fileName, &m_decoder);
    }

    if (result == ZE_NOX_GUI_OK) {
        connect(m_decoder, &ZeNoxDecoder::firstFrameNumberChanged, this, &ZeNoxSourceFile::changed);
        connect(m_decoder, &ZeNoxDecoder::lastFrameNumberChanged, this, &ZeNoxSourceFile::changed);
        m_openStatus = Opened;
        m_openedSize = size;
        m_openedModified = modified;
    } else {
        m_openStatus = FailedToOpen;
    }
    m_lastResult = result;
    return result;
}

namespace {

// An opened decoder into *decoder, owned by `owner`; the failure's code otherwise.
ZeNoxGuiError Adopt(ZeOpenedNoxDecoder opened, ZeNoxDecoder** decoder, QObject* owner)
{
    if (opened.result != ZE_NOX_CORE_OK)
        return ErrFromCoreError(opened.result);
    *decoder = opened.decoder.release();
    (*decoder)->setParent(owner);
    return ZE_NOX_GUI_OK;
}

} // namespace

ZeNoxGuiError ZeNoxSourceFile::open(ZeStreamType type, QString const& fileName, ZeNoxDecoder** decoder)
{
    if (!decoder || *decoder)
        return ZE_NOX_GUI_INTERNAL_ERROR;
    return Adopt(CreateAndOpenNoxDecoder(type, fileName, nullptr, ZeNoxGuiApp::GetYuvRequiredParams, true, true),
                 decoder, this);
}

ZeNoxGuiError ZeNoxSourceFile::openWithParams(QString const& fileName, ZeNoxDecoder** decoder,
                                              StreamParams const& params)
{
    if (!decoder || *decoder)
        return ZE_NOX_GUI_INTERNAL_ERROR;
    // The stored record is used as it is: a project load asks nothing.
    return Adopt(
        CreateAndOpenNoxDecoder(params.type, fileName, &params, ZeNoxGuiApp::GetYuvRequiredParams, true, false),
        decoder, this);
}

bool ZeNoxSourceFile::changedOnDisk() const
{
    if (!m_decoder)
        return false;
    QFileInfo const now(m_fileName);
    if (!now.exists())
        return false;
    return now.size() != m_openedSize || now.lastModified() != m_openedModified;
}

ZeNoxGuiError ZeNoxSourceFile::reopen()
{
    qWarning().noquote()
        << QStringLiteral("File \"%1\" has changed on disk since it was opened; opening it again").arg(m_fileName);
    // A type the user chose for a name that tells none is kept; the rest is found anew.
    ZeStreamType const type = m_decoder && DetectStreamTypeByFilename(m_fileName) == ZE_STREAM_TYPE_UNKNOWN
                                  ? m_decoder->streamType()
                                  : ZE_STREAM_TYPE_UNKNOWN;
    bool const keepFirst = !isFirstFrameNumberDefault();
    bool const keepLast = !isLastFrameNumberDefault();
    int const first = firstFrameNumber();
    int const last = lastFrameNumber();
    std::unique_ptr<ZeNoxDecoder> const previous(m_decoder); // deleted once the views have let go
    m_decoder = nullptr;
    m_knownChecksum.clear();
    m_storedEntry = QJsonObject();

    ZeNoxGuiError const res = open(m_fileName, nullptr, type);
    ZeNoxGuiApp::LogFileOpen(m_fileName, m_decoder, res);
    if (m_decoder) {
        QSignalBlocker const quiet(this); // one changed() below covers the range
        if (keepFirst)
            setFirstFrameNumber(first);
        if (keepLast)
            setLastFrameNumber(last);
    } else {
        // Saved with the file's entry until it opens again.
        if (keepFirst)
            m_storedEntry[QStringLiteral("firstFrameNumber")] = first;
        if (keepLast)
            m_storedEntry[QStringLiteral("lastFrameNumber")] = last;
    }
    emit changed();
    return res;
}

QString ZeNoxSourceFile::fullFilename() const
{
    return QFileInfo(m_decoder ? m_decoder->filename() : m_fileName).canonicalFilePath();
}

QString ZeNoxSourceFile::shortFilename() const
{
    return QFileInfo(m_decoder ? m_decoder->filename() : m_fileName).fileName();
}

QString ZeNoxSourceFile::projectFilename() const
{
    QString const full = fullFilename();
    if (!full.isEmpty())
        return full;
    QString const name = m_decoder ? m_decoder->filename() : m_fileName;
    return name.isEmpty() ? QString() : QFileInfo(name).absoluteFilePath();
}

void ZeNoxSourceFile::setPlaybackProblem(QString const& problem)
{
    if (problem == m_playbackProblem)
        return;
    m_playbackProblem = problem;
    emit playbackProblemChanged();
}

QString ZeNoxSourceFile::openStatusString() const
{
    return openStatusString(m_openStatus);
}

QString ZeNoxSourceFile::openStatusString(OpenStatus status)
{
    switch (status) {
    case NotOpened: return tr("Not Opened");
    case Validating: return tr("Validating");
    case Opened: return tr("Opened");
    case FailedToOpen: return tr("Failed to Open");
    }
    return tr("N/A");
}

StreamParams ZeNoxSourceFile::streamParams() const
{
    if (m_decoder)
        return m_decoder->params();
    return StreamParams{};
}

ZeStreamType ZeNoxSourceFile::streamType() const
{
    return m_decoder ? m_decoder->streamType() : ZE_STREAM_TYPE_UNKNOWN;
}

int ZeNoxSourceFile::width() const
{
    return m_decoder ? m_decoder->width() : 0;
}

int ZeNoxSourceFile::height() const
{
    return m_decoder ? m_decoder->height() : 0;
}

QString ZeNoxSourceFile::pixelFormatName() const
{
    return m_decoder ? GetPixFmtName(m_decoder->pixelFormat()) : QString();
}

int ZeNoxSourceFile::bitrateKbps() const
{
    return m_decoder ? m_decoder->bitrateKbps(framerate()) : 0;
}

double ZeNoxSourceFile::framerate() const
{
    // Every stream is taken at 25 frames per second.
    return m_decoder ? 25.0 : 0.0;
}

int ZeNoxSourceFile::originalFrameCount() const
{
    return m_decoder ? m_decoder->getOriginalFrameCount() : 0;
}

int ZeNoxSourceFile::firstFrameNumber() const
{
    return m_decoder ? m_decoder->firstFrameNumber() : 0;
}

int ZeNoxSourceFile::lastFrameNumber() const
{
    return m_decoder ? m_decoder->lastFrameNumber() : 0;
}

int ZeNoxSourceFile::frameCount() const
{
    return m_decoder ? m_decoder->lastFrameNumber() - m_decoder->firstFrameNumber() + 1 : 0;
}

bool ZeNoxSourceFile::isFirstFrameNumberDefault() const
{
    return !m_decoder || m_decoder->firstFrameNumber() == 0;
}

bool ZeNoxSourceFile::isLastFrameNumberDefault() const
{
    return !m_decoder || m_decoder->lastFrameNumber() == m_decoder->getOriginalFrameCount() - 1;
}

void ZeNoxSourceFile::setIsLeftFile(bool isLeft)
{
    m_isLeftFile = isLeft;
    emit changed();
}

void ZeNoxSourceFile::setIsRightFile(bool isRight)
{
    m_isRightFile = isRight;
    emit changed();
}

void ZeNoxSourceFile::setIsRefFile(bool isRef)
{
    m_isRefFile = isRef;
    emit changed();
}

void ZeNoxSourceFile::setFirstFrameNumber(int n)
{
    if (m_decoder)
        m_decoder->setFirstFrameNumber(n);
}

void ZeNoxSourceFile::setLastFrameNumber(int n)
{
    if (m_decoder)
        m_decoder->setLastFrameNumber(n);
}

void ZeNoxSourceFile::write(QJsonObject& json) const
{
    json[QStringLiteral("filename")] = projectFilename();
    json[QStringLiteral("isLeftFile")] = m_isLeftFile;
    json[QStringLiteral("isRightFile")] = m_isRightFile;
    json[QStringLiteral("isRefFile")] = m_isRefFile;
    if (!m_decoder) {
        // Missing or unreadable now: what the entry held stays for the day the file is back.
        static char const* const kKept[] = {"isLeftFile", "isRightFile",      "isRefFile",      "checksum",
                                            "params",     "firstFrameNumber", "lastFrameNumber"};
        for (char const* key : kKept) {
            QString const k = QString::fromLatin1(key);
            if (m_storedEntry.contains(k))
                json[k] = m_storedEntry.value(k);
        }
        return;
    }
    QByteArray const checksum = calcFileChecksum(m_decoder->filename());
    // A file that cannot be read now (gone since it was opened) keeps the checksum its opened
    // contents had, so that its parameters are used again when it comes back unchanged.
    if (!checksum.isEmpty())
        m_knownChecksum = QString::fromLatin1(checksum.toHex());
    if (!m_knownChecksum.isEmpty()) {
        json[QStringLiteral("checksum")] = m_knownChecksum;
        json[QStringLiteral("params")] = writeStreamParamsToJson(m_decoder->params());
    }
    if (!isFirstFrameNumberDefault())
        json[QStringLiteral("firstFrameNumber")] = firstFrameNumber();
    if (!isLastFrameNumberDefault())
        json[QStringLiteral("lastFrameNumber")] = lastFrameNumber();
}

ZeNoxGuiError ZeNoxSourceFile::read(QJsonObject const& json, StreamTypeQuestion const& ask)
{
    QString const name = json.value(QStringLiteral("filename")).toString();
    // The row shows the entry's name also when the stream type question is cancelled, and the
    // entry is written back as it is while the file does not open.
    if (!m_decoder) {
        m_fileName = name;
        m_storedEntry = json;
    }
    QString const stored = json.value(QStringLiteral("checksum")).toString();
    QJsonObject const paramsJson = json.value(QStringLiteral("params")).toObject();

    bool useParams = false;
    StreamParams params;
    bool const unchanged =
        !stored.isEmpty() && !paramsJson.isEmpty() && stored == QString::fromLatin1(calcFileChecksum(name).toHex());
    if (unchanged) {
        params = readStreamParamsFromJson(paramsJson);
        useParams = PlausibleParams(params, QFileInfo(name).size());
        if (!useParams)
            qWarning() << "Stream parameters of" << name
                       << "in the project file are not plausible; validating the file";
        else if (!(useParams = RecordTypeAgrees(params.type, name)))
            qWarning().noquote() << QStringLiteral("Stream parameters of \"%1\" in the project file name the stream "
                                                   "type %2, which the file does not show; validating the file")
                                        .arg(name, GetStreamTypeName(params.type));
    }

    ZeNoxGuiError res = ZE_NOX_GUI_OK;
    if (useParams) {
        res = open(name, &params);
        // A record naming fewer frames than the file holds (as the raw index or the byte stream's
        // pictures show) would hide the rest of the stream.
        qint64 const held = res == ZE_NOX_GUI_OK ? std::max<qint64>(m_decoder->getOriginalFrameCount(),
                                                                    CountPicturesByContent(name, params.type))
                                                 : 0;
        if (held > params.frames) {
            qWarning().noquote() << QStringLiteral("The project file names %1 frames for \"%2\", which holds %3; "
                                                   "validating the file")
                                        .arg(params.frames)
                                        .arg(name)
                                        .arg(held);
            delete m_decoder;
            m_decoder = nullptr;
            useParams = false;
        }
        // Parameters that no longer fit (another type, say) are dropped: the file is opened as a
        // newly added one would be instead of staying unopened.
        if (res != ZE_NOX_GUI_OK)
            qCritical().noquote() << "Failed to open file" << QStringLiteral("\"%1\"").arg(name)
                                  << "with the parameters read from project file. Error:" << ErrToString(res)
                                  << "- opening it without them";
    }
    if (!useParams || res != ZE_NOX_GUI_OK) {
        ZeStreamType type = ZE_STREAM_TYPE_UNKNOWN;
        if (ask && needsStreamTypeChoice(name)) {
            ZeNoxGuiError const answer = ask(name, type);
            if (answer != ZE_NOX_GUI_OK)
                return answer;
        }
        res = open(name, nullptr, type);
    }
    ZeNoxGuiApp::LogFileOpen(name, m_decoder, res);
    if (res != ZE_NOX_GUI_OK)
        return res;
    // The stored checksum, verified above, is that of the contents just opened.
    if (unchanged)
        m_knownChecksum = stored;

    m_isLeftFile = json.value(QStringLiteral("isLeftFile")).toBool(false);
    m_isRightFile = json.value(QStringLiteral("isRightFile")).toBool(false);
    m_isRefFile = json.value(QStringLiteral("isRefFile")).toBool(false);
    int const first = JsonInt(json.value(QStringLiteral("firstFrameNumber")), -1);
    if (first != -1)
        setFirstFrameNumber(first);
    int const last = JsonInt(json.value(QStringLiteral("lastFrameNumber")), -1);
    if (last != -1)
        setLastFrameNumber(last);
    return ZE_NOX_GUI_OK;
}

QByteArray ZeNoxSourceFile::calcFileChecksum(QString const& fileName) const
{
    if (!QFileInfo(fileName).isFile())
        return QByteArray();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    // Fed from the file in chunks: a raw clip may be larger than memory, and a read error must not
    // pass for the digest of a shorter file.
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return QByteArray();
    return hash.result();
}

QJsonObject ZeNoxSourceFile::writeStreamParamsToJson(StreamParams const& params) const
{
    QJsonObject json;
    json[QStringLiteral("type")] = static_cast<int>(params.type);
    json[QStringLiteral("width")] = params.width;
    json[QStringLiteral("height")] = params.height;
    json[QStringLiteral("pixFmt")] = GetPixFmtAvName(params.pixFmt);
    json[QStringLiteral("frames")] = params.frames;
    CropInfo const& c = params.crop;
    if (c.left != 0 || c.right != 0 || c.top != 0 || c.bottom != 0) {
        QJsonObject crop;
        crop[QStringLiteral("left")] = c.left;
        crop[QStringLiteral("right")] = c.right;
        crop[QStringLiteral("top")] = c.top;
        crop[QStringLiteral("bottom")] = c.bottom;
        json[QStringLiteral("crop")] = crop;
    }
    if (params.chromaOrder == 1)
        json[QStringLiteral("chromaOrder")] = 1;
    return json;
}

StreamParams ZeNoxSourceFile::readStreamParamsFromJson(QJsonObject const& json) const
{
    StreamParams p;
    p.valid = false;
    p.crop = CropInfo{};
    p.type = static_cast<ZeStreamType>(JsonInt(json.value(QStringLiteral("type")), 0));
    p.width = JsonInt(json.value(QStringLiteral("width")), 0);
    p.height = JsonInt(json.value(QStringLiteral("height")), 0);
    p.frames = JsonInt(json.value(QStringLiteral("frames")), 0);
    p.pixFmt = GetPixFmtFromAvName(json.value(QStringLiteral("pixFmt")).toString());
    QJsonObject const crop = json.value(QStringLiteral("crop")).toObject();
    if (!crop.isEmpty()) {
        p.crop.left = JsonInt(crop.value(QStringLiteral("left")), 0);
        p.crop.right = JsonInt(crop.value(QStringLiteral("right")), 0);
        p.crop.top = JsonInt(crop.value(QStringLiteral("top")), 0);
        p.crop.bottom = JsonInt(crop.value(QStringLiteral("bottom")), 0);
    }
    p.chromaOrder = JsonInt(json.value(QStringLiteral("chromaOrder")), 0) == 1 ? 1 : 0;
    return p;
}

} // namespace ze::nox::gui
