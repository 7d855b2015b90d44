#include "decoders/ze_vvc_decoder.h"

#include "decoders/ze_random_access_points.h"
#include "common/ze_nox_core_supported_features.h"
#include "display/frame.h"

#include "bitstream/AnnexBread.h"
#include "decoding/DecLib.h"
#include "picture/VideoIOYuv.h"
#include "util/WorkerPool.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <new>
#include <sstream>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace ze::nox::core {

int ZeVvcDecoder::m_decInstanceCount = 0;

namespace {

constexpr int kPocNone = -2147483647;

bool IsIdr(int type)
{
    return type == NAL_UNIT_CODED_SLICE_IDR_W_RADL || type == NAL_UNIT_CODED_SLICE_IDR_N_LP;
}

// 4:2:0 pictures are shown as they are, 4:0:0 ones as 4:2:0 with neutral chroma planes (as the
// AV1 decoder gives monochrome pictures).
bool Shown(int chromaFormat)
{
    return chromaFormat == CHROMA_420 || chromaFormat == CHROMA_400;
}

Picture* FirstPicture(std::list<Picture*> const* pictures)
{
    if (!pictures)
        return nullptr;
    for (Picture* pic : *pictures)
        if (pic && pic->sps && pic->pps)
            return pic;
    return nullptr;
}

} // namespace

ZeVvcDecoder::ZeVvcDecoder(QObject* parent) : ZeNoxSequentialDecoder(ZE_STREAM_TYPE_VVC, parent)
{
    static_assert(kMaxLayers == MAX_VPS_LAYERS, "one flag per layer");
    std::fill(std::begin(m_newClvs), std::end(m_newClvs), true);
    std::fill(std::begin(m_loopFiltered), std::end(m_loopFiltered), false);
    if (m_decInstanceCount == 0)
        initROM();
    ++m_decInstanceCount;
}

ZeVvcDecoder::~ZeVvcDecoder()
{
    closeFile();
    m_reconOutputs.clear();
    if (--m_decInstanceCount == 0)
        destroyROM();
}

ZeNoxCoreError ZeVvcDecoder::openFile(QString const& fileName, StreamParams const* params)
{
    m_noSamplesLogged = false;
    return openValidated(fileName, params,
                         [&] { return validate(fileName, m_frameCount, m_width, m_height, m_pixFmt); });
}

void ZeVvcDecoder::closeFile()
{
    closeDecoder();
    m_spareFrames.clear(); // the thread has stopped
    dropRandomAccess();
    m_fileName.clear();
    m_frameCount = 0;
    m_openResult = ZE_NOX_CORE_NOT_OPENED;
}

bool ZeVvcDecoder::isOpened() const
{
    return m_bitstreamFile.is_open();
}

ZeNoxCoreError ZeVvcDecoder::openDecoder()
{
    if (!ZeNoxCoreSupportedFeatures::m_pixFmts.contains(m_pixFmt)) {
        qWarning().noquote() << "Failed to open decoder." << ErrToString(ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED);
        return ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED;
    }
    m_bitstreamFile.open(m_fileName.toUtf8().toStdString(), std::ios::in | std::ios::binary);
    if (!m_bitstreamFile.is_open())
        return ZE_NOX_CORE_FAILED_TO_OPEN_FILE;
    m_byteStream = std::make_unique<InputByteStream>(m_bitstreamFile);
    m_decLib = new (std::nothrow) DecLib;
    if (!m_decLib)
        return ZE_NOX_CORE_INTERNAL_ERROR;
    m_decLib->create();
    m_decLib->init();
    m_decLib->setDecodedPictureHashSEIEnabled(1);
    m_decLib->setNoOutputPriorPicsFlag(false);
    m_decLib->getTrQuant()->init(nullptr, 64, false, false, false, false);

    m_pocLastDisplay = m_skipFrame + kPocNone;
    std::fill(std::begin(m_loopFiltered), std::end(m_loopFiltered), false);
    m_skippedNalPending = false;
    std::fill(std::begin(m_newClvs), std::end(m_newClvs), true);
    m_eosPresentInPu = false;
    return ZE_NOX_CORE_OK;
}

void ZeVvcDecoder::closeDecoder()
{
    stopAhead();
    // Pending pictures are dropped, not written: the planes the output was bound to may be gone.
    if (m_decLib) {
        m_decLib->deletePicBuffer();
        m_pictureList = nullptr;
        m_decLib->destroy();
        delete m_decLib;
        m_decLib = nullptr;
    }
    m_pictureList = nullptr;
    m_heldNalu.reset();
    m_heldField.reset();
    m_pendingError = nullptr;
    m_writeDue = false;
    if (!m_reconFileName.empty())
        for (auto& output : m_reconOutputs)
            output.second->close();
    m_byteStream.reset();
    if (m_bitstreamFile.is_open())
        m_bitstreamFile.close();

    m_targetDecLayerIdSet.clear();
    m_targetOutputLayerIdSet.clear();
    m_outputBitDepth[0] = m_outputBitDepth[1] = 0;
    m_loopFiltered[0] = m_loopFiltered[1] = false;
    m_pocLastDisplay = kPocNone;
    m_skippedNalPending = false;
    m_eosPresentInPu = false;
    m_lastPoc = -1;
    m_skipFrame = 0;
    m_curFrameNumber = -1;
}

ZeVvcDecoder::OutputInfo ZeVvcDecoder::outputInfoOf(Picture const& pic)
{
    OutputInfo info;
    info.chromaFormat = pic.sps->m_chromaFormatIdc;
    const ChromaFormat cf = pic.sps->m_chromaFormatIdc;
    Window const& w = pic.pps->m_conformanceWindow;
    info.width = pic.pps->m_picWidth - (w.getWindowLeftOffset() + w.getWindowRightOffset()) * SPS::m_winUnitX[cf];
    info.height = pic.pps->m_picHeight - (w.getWindowTopOffset() + w.getWindowBottomOffset()) * SPS::m_winUnitY[cf];
    info.bitDepth = std::max(0, pic.sps->m_bitDepth);
    return info;
}

ZeNoxCoreError ZeVvcDecoder::validate(QString const& fileName, int& frameCount, int& width, int& height,
                                      AVPixelFormat& pixFmt)
{
    m_fileName = fileName;
    frameCount = 0;
    if (openDecoder() == ZE_NOX_CORE_INTERNAL_ERROR) {
        closeFile();
        return ZE_NOX_CORE_INTERNAL_ERROR;
    }
    // The count and the sizes come from the headers: no picture is reconstructed in this pass.
    if (m_decLib)
        m_decLib->setHeadersOnly(true);
    int count = 0;
    OutputInfo first;
    Frame frame;
    try {
        for (;;) {
            const ZeNoxCoreError r = decodeNextFrame(frame, true);
            if (r == ZE_NOX_CORE_END_OF_FILE)
                break;
            if (r == ZE_NOX_CORE_NOT_OPENED) {
                // No planes for the stream's pictures: a format that cannot be shown ends the pass.
                if (Picture const* pic = FirstPicture(m_pictureList)) {
                    const OutputInfo info = outputInfoOf(*pic);
                    if (!Shown(info.chromaFormat)) {
                        closeFile();
                        return ZE_NOX_CORE_UNSUPPORTED_VVC_CHROMA;
                    }
                    if (getAvPixFmtFromVvcVtmParams(info.bitDepth, CHROMA_420, m_packedYuvMode) == AV_PIX_FMT_NONE) {
                        closeFile();
                        return ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED;
                    }
                }
                continue;
            }
            if (r != ZE_NOX_CORE_OK)
                continue;
            const OutputInfo info = m_lastOutput;
            if (count == 0) {
                if (!Shown(info.chromaFormat)) {
                    closeDecoder();
                    return ZE_NOX_CORE_UNSUPPORTED_VVC_CHROMA;
                }
                width = info.width;
                height = info.height;
                pixFmt = getAvPixFmtFromVvcVtmParams(info.bitDepth, CHROMA_420, m_packedYuvMode);
                if (pixFmt == AV_PIX_FMT_NONE) {
                    closeFile();
                    return ZE_NOX_CORE_CHROMA_FORMAT_NOT_SUPPORTED;
                }
                first = info;
            } else if (info != first) {
                closeFile();
                return ZE_NOX_CORE_RESOLUTION_CHANGE;
            }
            ++count;
        }
    } catch (std::exception const& e) {
        qCritical().noquote() << QStringLiteral("%1. %2").arg(ErrToString(ZE_NOX_CORE_CRITICAL_DECODING_ERROR),
                                                              QString::fromUtf8(e.what()));
        closeFile();
        return ZE_NOX_CORE_CRITICAL_DECODING_ERROR;
    }
    closeFile();
    frameCount = count;
    return ZE_NOX_CORE_OK;
}

ZeNoxCoreError ZeVvcDecoder::decodeNextPicture(Frame& frame)
{
    bool aheadActive = false;
    {
        std::lock_guard<std::mutex> lock(m_aheadMutex);
        aheadActive = m_aheadThread.joinable() || !m_ahead.empty();
    }
    if (!aheadActive && vvcutil::DecodingThreads() <= 1) {
        Step step;
        decodeStep(frame, m_curFrameNumber + 1, step);
        return finishStep(step);
    }
    if (!aheadActive)
        startAhead();
    Step step = takeAhead();
    AVFrame* theirs = frame.avFrame();
    AVFrame* ours = step.frame ? step.frame->avFrame() : nullptr;
    AVFrame* old = nullptr;
    if (step.result == ZE_NOX_CORE_OK && theirs && ours && ours->buf[0] && (old = av_frame_alloc())) {
        // The caller's planes change places with the step's: they are decoded into again when
        // they fit and nobody else holds them.
        av_frame_move_ref(old, theirs);
        av_frame_move_ref(theirs, ours);
        av_frame_move_ref(ours, old);
        av_frame_free(&old);
    } else {
        frame.reset();
        if (step.result == ZE_NOX_CORE_OK)
            step.result = ZE_NOX_CORE_INTERNAL_ERROR;
    }
    if (step.frame) {
        std::lock_guard<std::mutex> lock(m_aheadMutex);
        m_spareFrames.push_back(std::move(step.frame));
    }
    m_aheadChanged.notify_all();
    return finishStep(step);
}

namespace {

void Emit(QtMsgType type, QString const& text)
{
    if (type == QtCriticalMsg)
        qCritical().noquote() << text;
    else
        qWarning().noquote() << text;
}

} // namespace

void ZeVvcDecoder::logLine(QtMsgType type, QString const& text) const
{
    if (m_stepLog)
        m_stepLog->push_back(LogLine{type, text, false});
    else
        Emit(type, text);
}

ZeNoxCoreError ZeVvcDecoder::finishStep(Step& step)
{
    for (LogLine const& line : step.log) {
        if (line.oncePerOpen) {
            if (m_noSamplesLogged)
                continue;
            m_noSamplesLogged = true;
        }
        Emit(line.type, line.text);
    }
    if (step.counted)
        ++m_curFrameNumber;
    return step.result;
}

void ZeVvcDecoder::decodeStep(Frame& frame, int number, Step& step)
{
    struct StepLog
    {
        ZeVvcDecoder& dec;
        ~StepLog() { dec.m_stepLog = nullptr; }
    } const stepLog{*this};
    m_stepLog = &step.log;
    m_lastWriteHadSamples = false;
    m_lastOutput = OutputInfo{}; // width 0 until a picture is written
    // Never a stale picture with a failure: the Frame may hold planes set up for a picture that
    // was not written. The output objects let go of the planes, which the reset frees.
    auto failed = [&](ZeNoxCoreError err) {
        frame.reset();
        for (auto& output : m_reconOutputs)
            output.second->close();
        step.result = err;
    };
    try {
        const ZeNoxCoreError r = decodeNextFrame(frame, true);
        if (r == ZE_NOX_CORE_END_OF_FILE) {
            if (xFlushOutput(m_pictureList, -1, false) != ZE_NOX_CORE_OK)
                return failed(ZE_NOX_CORE_INTERNAL_ERROR);
        } else if (r != ZE_NOX_CORE_OK) {
            return failed(ZE_NOX_CORE_INTERNAL_ERROR);
        }
    } catch (std::exception const& e) {
        logLine(QtCriticalMsg, QString::fromUtf8(e.what()));
        return failed(ZE_NOX_CORE_INTERNAL_ERROR);
    }
    // A picture must be what the stream was opened as: parameters stored for another file of the
    // name would otherwise give pictures of a size other than width() x height().
    if (m_lastOutput.width > 0 &&
        (m_lastOutput.width != m_width || m_lastOutput.height != m_height ||
         getAvPixFmtFromVvcVtmParams(m_lastOutput.bitDepth, ChromaFormat(m_lastOutput.chromaFormat), m_packedYuvMode) !=
             m_pixFmt)) {
        logLine(QtWarningMsg, QStringLiteral("%1: frame %2 is %3x%4, the stream %5x%6")
                                  .arg(ErrToString(ZE_NOX_CORE_RESOLUTION_CHANGE))
                                  .arg(number)
                                  .arg(m_lastOutput.width)
                                  .arg(m_lastOutput.height)
                                  .arg(m_width)
                                  .arg(m_height));
        step.counted = true;
        return failed(ZE_NOX_CORE_RESOLUTION_CHANGE);
    }
    if (!m_lastWriteHadSamples) {
        // The picture was decoded but the library gave no samples for it: its samples differ from
        // its picture hash or it could not be reconstructed, so showing or measuring it would mislead.
        step.log.push_back(LogLine{QtCriticalMsg,
                                   QStringLiteral("VVC decoder: pictures of %1 cannot be decoded from frame %2 on (the "
                                                  "picture is not complete or differs from its picture hash)")
                                       .arg(m_fileName)
                                       .arg(number),
                                   true});
        return failed(ZE_NOX_CORE_INTERNAL_ERROR);
    }
    step.counted = true;
    step.result = ZE_NOX_CORE_OK;
}

void ZeVvcDecoder::startAhead()
{
    {
        // The pictures are made here, on the caller's thread, which they belong to.
        std::lock_guard<std::mutex> lock(m_aheadMutex);
        while (m_spareFrames.size() < kAheadSteps + 1)
            m_spareFrames.push_back(std::make_unique<Frame>());
        m_aheadCancel = false;
        m_aheadEnded = false;
    }
    m_aheadThread = std::thread(&ZeVvcDecoder::runAhead, this, m_curFrameNumber + 1);
}

void ZeVvcDecoder::stopAhead()
{
    {
        std::lock_guard<std::mutex> lock(m_aheadMutex);
        m_aheadCancel = true;
    }
    m_aheadChanged.notify_all();
    if (m_aheadThread.joinable())
        m_aheadThread.join();
    std::lock_guard<std::mutex> lock(m_aheadMutex);
    for (Step& step : m_ahead)
        if (step.frame)
            m_spareFrames.push_back(std::move(step.frame));
    m_ahead.clear();
    m_aheadCancel = false;
    m_aheadEnded = false;
}

void ZeVvcDecoder::runAhead(int number)
{
    for (;;) {
        std::unique_ptr<Frame> frame;
        {
            std::unique_lock<std::mutex> lock(m_aheadMutex);
            m_aheadChanged.wait(lock, [this] {
                return m_aheadCancel || (m_ahead.size() < kAheadSteps && !m_spareFrames.empty());
            });
            if (m_aheadCancel)
                return;
            frame = std::move(m_spareFrames.back());
            m_spareFrames.pop_back();
        }
        Step step;
        try {
            decodeStep(*frame, number, step);
        } catch (...) {
            // Nothing may leave the thread (an allocation that failed outside the decoding).
            step.result = ZE_NOX_CORE_INTERNAL_ERROR;
        }
        // The output lets go of the planes: they are the caller's once the step is taken.
        for (auto& output : m_reconOutputs)
            output.second->close();
        bool const last = step.result != ZE_NOX_CORE_OK;
        if (step.counted)
            ++number;
        step.frame = std::move(frame);
        {
            std::lock_guard<std::mutex> lock(m_aheadMutex);
            m_ahead.push_back(std::move(step));
            m_aheadEnded = last;
        }
        m_aheadChanged.notify_all();
        if (last)
            return; // decoding goes on, if asked to, from this state as on the caller's thread
    }
}

ZeVvcDecoder::Step ZeVvcDecoder::takeAhead()
{
    Step step;
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(m_aheadMutex);
        m_aheadChanged.wait(lock, [this] { return !m_ahead.empty(); });
        step = std::move(m_ahead.front());
        m_ahead.pop_front();
        ended = m_aheadEnded && m_ahead.empty();
    }
    m_aheadChanged.notify_all();
    // The thread ends after its last step; a later request starts it again.
    if (ended)
        m_aheadThread.join();
    return step;
}

ZeNoxCoreError ZeVvcDecoder::restart()
{
    closeDecoder();
    return openDecoder();
}

bool ZeVvcDecoder::findRandomAccessPoints(RandomAccessIndex& points)
{
    using Kind = ZeRandomAccessPointFinder::Kind;
    std::ifstream in(m_fileName.toUtf8().toStdString(), std::ios::in | std::ios::binary);
    if (!in.is_open())
        return false;
    InputByteStream bs(in);
    ZeRandomAccessPointFinder finder;
    // A picture starts with the run of units that precede its first slice (parameter sets, a
    // picture header, prefix SEI...): runStart is where that run began, -1 after a picture's own
    // units (slices and suffix units).
    int64_t runStart = -1;
    int64_t headerRunStart = -1; // a picture header unit opened a picture whose first slice follows
    std::vector<uint8_t> nal;
    try {
        for (int empty = 0; finder.ok();) {
            int64_t const pos = int64_t(bs.position());
            AnnexBStats stats;
            byteStreamNALUnit(bs, nal, stats);
            if (nal.empty()) {
                if (in.fail() || ++empty > 1024)
                    break;
                continue;
            }
            if (nal.size() < 3 || (nal[0] & 0x3F) != 0) {
                finder.fail(); // one layer only
                break;
            }
            int const type = nal[1] >> 3;
            bool const vcl = type <= NAL_UNIT_RESERVED_IRAP_VCL_11;
            bool const suffix = type == NAL_UNIT_SUFFIX_APS || type == NAL_UNIT_SUFFIX_SEI || type == NAL_UNIT_EOS ||
                                type == NAL_UNIT_EOB || type == NAL_UNIT_FD;
            if ((type >= NAL_UNIT_VPS && type <= NAL_UNIT_PREFIX_APS) || type == NAL_UNIT_SUFFIX_APS)
                finder.addParameterSet(nal.data(), int(nal.size()));
            if (type == NAL_UNIT_EOS)
                finder.endOfSequence();
            if (!vcl && !suffix) {
                if (runStart < 0)
                    runStart = pos;
                if (type == NAL_UNIT_PH)
                    headerRunStart = runStart;
                continue;
            }
            bool const headerInSlice = nal[2] & 0x80;
            if (vcl && (headerRunStart >= 0 || headerInSlice)) {
                int64_t const start = headerRunStart >= 0 ? headerRunStart : runStart >= 0 ? runStart : pos;
                Kind kind = Kind::Trailing;
                if (type == NAL_UNIT_CODED_SLICE_IDR_W_RADL || type == NAL_UNIT_CODED_SLICE_IDR_N_LP)
                    kind = Kind::Idr;
                else if (type == NAL_UNIT_CODED_SLICE_CRA)
                    kind = Kind::Cra;
                else if (type == NAL_UNIT_CODED_SLICE_RASL)
                    kind = Kind::Rasl;
                else if (type == NAL_UNIT_CODED_SLICE_RADL)
                    kind = Kind::Radl;
                else if (type > NAL_UNIT_CODED_SLICE_RASL)
                    finder.fail(); // GDR and reserved types
                finder.addPicture(kind, start);
                headerRunStart = -1;
            }
            runStart = -1;
        }
    } catch (std::exception const&) {
        return false;
    }
    // Parsed only: points of a stream that is not the one the record describes are not used.
    if (finder.outputs() != m_frameCount)
        return false;
    points = finder.finish();
    return true;
}

void ZeVvcDecoder::decodeUnit(InputNALUnit& nalu)
{
    m_decLib->decode(nalu, m_skipFrame, m_pocLastDisplay, m_targetOlsIdx, true);
    if (nalu.m_nalUnitType == NAL_UNIT_VPS && m_decLib->getVPS()) {
        m_decLib->getVPS()->deriveTargetOutputLayerSet(m_targetOlsIdx);
        m_targetDecLayerIdSet = m_decLib->getVPS()->getTargetLayerIdSet();
        m_targetOutputLayerIdSet = m_decLib->getVPS()->getTargetOutputLayerIdSet();
    }
}

ZeNoxCoreError ZeVvcDecoder::seekTo(RandomAccessPoint const& point)
{
    ZeNoxCoreError const res = restart();
    if (res != ZE_NOX_CORE_OK)
        return res;
    m_byteStream.reset();
    m_bitstreamFile.clear();
    m_bitstreamFile.seekg(std::streamoff(point.pos));
    if (point.pos < 0 || !m_bitstreamFile)
        return ZE_NOX_CORE_OPERATION_FAILED;
    m_byteStream = std::make_unique<InputByteStream>(m_bitstreamFile);
    if (point.prefix) {
        // The parameter sets in force at the point, decoded before its picture.
        std::istringstream prefix(std::string(point.prefix->constData(), size_t(point.prefix->size())));
        InputByteStream units(prefix);
        try {
            for (int empty = 0; empty < 1024;) {
                InputNALUnit nalu;
                AnnexBStats stats;
                byteStreamNALUnit(units, nalu.getBitstream().getFifo(), stats);
                if (nalu.getBitstream().getFifo().empty()) {
                    if (prefix.fail())
                        break;
                    ++empty;
                    continue;
                }
                read(nalu);
                decodeUnit(nalu);
            }
        } catch (std::exception const& e) {
            qWarning().noquote() << QString::fromUtf8(e.what());
            return ZE_NOX_CORE_OPERATION_FAILED;
        }
    }
    m_curFrameNumber = point.frame - 1;
    return ZE_NOX_CORE_OK;
}

AVPixelFormat ZeVvcDecoder::getAvPixFmtFromVvcVtmParams(int bitDepth, ChromaFormat chromaFormat,
                                                        bool packedYuvMode) const
{
    if (bitDepth != 8 && bitDepth != 10) {
        logLine(QtWarningMsg, QStringLiteral("VVC decoder: Invalid bit depth %1").arg(bitDepth));
        return AV_PIX_FMT_NONE;
    }
    bool const eight = bitDepth == 8;
    if (chromaFormat == CHROMA_400 || chromaFormat == CHROMA_420)
        return packedYuvMode ? (eight ? AV_PIX_FMT_NV12 : AV_PIX_FMT_P010LE)
                             : (eight ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_YUV420P10LE);
    if (!packedYuvMode && chromaFormat == CHROMA_422)
        return eight ? AV_PIX_FMT_YUV422P : AV_PIX_FMT_YUV422P10LE;
    if (!packedYuvMode && chromaFormat == CHROMA_444)
        return eight ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV444P10LE;
    logLine(QtWarningMsg,
            QStringLiteral("VVC decoder: Unknown combination of bit depth=%1, chromaFormat=%2 and packedYuvMode=%3")
                .arg(bitDepth)
                .arg(int(chromaFormat))
                .arg(packedYuvMode));
    return AV_PIX_FMT_NONE;
}

bool ZeVvcDecoder::xIsNaluWithinTargetDecLayerIdSet(InputNALUnit const* nalu) const
{
    return m_targetDecLayerIdSet.empty() || std::find(m_targetDecLayerIdSet.begin(), m_targetDecLayerIdSet.end(),
                                                      nalu->m_nuhLayerId) != m_targetDecLayerIdSet.end();
}

bool ZeVvcDecoder::xIsNaluWithinTargetOutputLayerIdSet(InputNALUnit const* nalu) const
{
    return m_targetOutputLayerIdSet.empty() ||
           std::find(m_targetOutputLayerIdSet.begin(), m_targetOutputLayerIdSet.end(), nalu->m_nuhLayerId) !=
               m_targetOutputLayerIdSet.end();
}

// ---- Decoding loop and output ----

ZeNoxCoreError ZeVvcDecoder::decodeNextFrame(Frame& frame, bool writeOutput)
{
    auto streamFailed = [this] { return !m_decLib || !m_byteStream || m_bitstreamFile.fail(); };
    auto flushOne = [this, &frame] {
        if (!m_decLib)
            return ZE_NOX_CORE_END_OF_FILE;
        m_decLib->flushOutput();
        if ((m_decLib->nextOutput() || m_heldField) && setUpOutputFor(frame) != ZE_NOX_CORE_OK)
            return ZE_NOX_CORE_NOT_OPENED;
        const ZeNoxCoreError r = xFlushOutput(m_pictureList, -1, true);
        return r == ZE_NOX_CORE_INVALID_PARAMETERS ? ZE_NOX_CORE_END_OF_FILE : r;
    };
    // While the next output's samples are still being decoded, later pictures are read and
    // decoded (with several threads). An error met meanwhile waits until the pictures due before
    // it are written, so that it comes at the same picture as without decoding ahead.
    auto outputDue = [this] {
        if (!m_decLib->hasOutput()) {
            m_writeDue = false;
            return false;
        }
        return m_writeDue || m_pendingError || !m_decLib->canDecodeAhead() || m_decLib->outputReady();
    };
    if (m_pendingError && !(writeOutput && m_decLib && m_decLib->hasOutput())) {
        std::exception_ptr const error = m_pendingError;
        m_pendingError = nullptr;
        std::rethrow_exception(error);
    }
    if (streamFailed() && !m_heldNalu && !m_pendingError)
        return flushOne();

    for (;;) {
        // Pictures the decoder has output are written one per call before more units are read.
        if (writeOutput && outputDue()) {
            const ZeNoxCoreError r = setUpOutputFor(frame);
            if (r != ZE_NOX_CORE_OK)
                return r;
            if (xWriteOutput(m_pictureList, 0) != 0)
                return ZE_NOX_CORE_OK;
        }
        if (m_pendingError) { // nothing left to write before it
            std::exception_ptr const error = m_pendingError;
            m_pendingError = nullptr;
            std::rethrow_exception(error);
        }
        std::unique_ptr<InputNALUnit> nalu;
        bool newPicture = false;
        bool newAccessUnit = false;
        bool failed = false;
        bool eos = false;
        try {
            nalu = std::move(m_heldNalu);
            bool haveUnit = nalu != nullptr;
            if (!nalu) {
                nalu = std::make_unique<InputNALUnit>();
                newPicture = m_decLib->isNewPicture(&m_bitstreamFile, m_byteStream.get());
                if (newPicture) {
                    newAccessUnit = m_decLib->isNewAccessUnit(true, &m_bitstreamFile, m_byteStream.get());
                } else {
                    AnnexBStats stats;
                    byteStreamNALUnit(*m_byteStream, nalu->getBitstream().getFifo(), stats);
                    if (nalu->getBitstream().getFifo().empty()) {
                        // An empty unit between start codes is passed over; at the end of the data the
                        // picture boundary below completes the last picture.
                        if (!streamFailed()) {
                            msg(ERROR, "Warning: Attempt to decode an empty NAL unit\n");
                            continue;
                        }
                    } else if (ReadOrDrop(*nalu)) {
                        haveUnit = true;
                    } else {
                        nalu = std::make_unique<InputNALUnit>(); // dropped
                        if (!streamFailed())
                            continue;
                    }
                }
            }
            int const layer = std::clamp(nalu->m_nuhLayerId, 0, kMaxLayers - 1);
            int const type = nalu->m_nalUnitType;
            if (haveUnit && writeOutput && m_decLib->hasOutput() &&
                (type == NAL_UNIT_VPS || type == NAL_UNIT_SPS || type == NAL_UNIT_PPS)) {
                // A parameter set may change how the pictures due before it are written: they go
                // first, as without decoding ahead.
                m_heldNalu = std::move(nalu);
                m_writeDue = true;
                continue;
            }

            if (haveUnit) {
                if (m_decLib->getFirstSliceInPicture()) {
                    if (IsIdr(type)) {
                        // The decoder outputs or discards the pictures before it (no_output_of_prior_pics).
                        m_newClvs[layer] = true;
                    } else if (type == NAL_UNIT_CODED_SLICE_CRA) {
                        m_newClvs[layer] = m_eosPresentInPu;
                    }
                }

                if ((m_maxTemporalLayer >= 0 && nalu->m_temporalId > m_maxTemporalLayer) ||
                    !xIsNaluWithinTargetDecLayerIdSet(nalu.get())) {
                    m_skippedNalPending = true;
                } else {
                    if (m_skippedNalPending && nalu->isSlice()) {
                        if (m_decLib->isSliceNaluFirstInAU(true, *nalu)) {
                            m_decLib->resetAccessUnitNals();
                            m_decLib->resetAccessUnitApsNals();
                            m_decLib->resetAccessUnitPicInfo();
                        }
                        m_skippedNalPending = false;
                    }
                    decodeUnit(*nalu);
                }
                if (type == NAL_UNIT_EOS) {
                    m_eosPresentInPu = true;
                    m_newClvs[layer] = true;
                } else if (m_eosPresentInPu && type != NAL_UNIT_EOB) {
                    VVC_THROW("When an EOS NAL unit is present in a PU, it shall be the last NAL unit among all NAL "
                              "units within the PU other than other EOS NAL units or an EOB NAL unit");
                }
            }

            failed = streamFailed();
            eos = type == NAL_UNIT_EOS;
            if (newPicture || failed || eos) {
                if (m_decLib->getFirstSliceInSequence(layer)) {
                    m_decLib->setFirstSliceInPicture(true);
                } else if (!m_skippedNalPending) {
                    if (!(m_loopFiltered[layer] && failed)) {
                        m_decLib->executeLoopFilters();
                        m_decLib->finishPicture(m_lastPoc, m_pictureList, INFO, m_newClvs[layer]);
                    }
                    m_loopFiltered[layer] = eos;
                    if (eos)
                        m_decLib->setFirstSliceInSequence(true, layer);
                    m_decLib->updateAssociatedIRAP();
                    m_decLib->updatePrevGDRInSameLayer();
                    m_decLib->updatePrevIRAPAndGDRSubpic();
                }
            }
        } catch (...) {
            // Decoding ahead of a due output: the error waits for the pictures due before it.
            if (!writeOutput || !m_decLib->hasOutput())
                throw;
            m_pendingError = std::current_exception();
            continue;
        }

        bool written = false;
        if (writeOutput && outputDue()) {
            const ZeNoxCoreError r = setUpOutputFor(frame);
            if (r != ZE_NOX_CORE_OK)
                return r;
            written = xWriteOutput(m_pictureList, unsigned(nalu->m_temporalId)) != 0;
        }
        if (eos && writeOutput)
            m_decLib->setFirstSliceInPicture(false);

        if (newPicture) {
            m_decLib->checkSeiInPictureUnit();
            m_decLib->resetPictureSeiNalus();
            m_eosPresentInPu = false;
        }
        if (newPicture || failed || eos) {
            m_decLib->checkAPSInPictureUnit();
            m_decLib->resetPictureUnitNals();
        }
        if (newAccessUnit || failed) {
            m_decLib->CheckNoOutputPriorPicFlagsInAccessUnit();
            m_decLib->resetAccessUnitNoOutputPriorPicFlags();
            m_decLib->checkLayerIdIncludedInCvss();
            m_decLib->resetAccessUnitEos();
            m_decLib->resetAccessUnitPicInfo();
        }
        if (newAccessUnit) {
            m_decLib->checkTidLayerIdInAccessUnit();
            m_decLib->resetAccessUnitSEITids();
            m_decLib->checkSEIInAccessUnit();
            m_decLib->resetAccessUnitNals();
        }

        if (written)
            return ZE_NOX_CORE_OK;
        if (failed)
            return flushOne();
    }
}

ZeNoxCoreError ZeVvcDecoder::setUpOutputFor(Frame& frame)
{
    // The next picture written: the decoder's next output, or at the end a field held for its pair.
    Picture const* next = m_decLib ? m_decLib->nextOutput() : nullptr;
    if (!next)
        next = m_heldField.get();
    if (!next || m_reconFileName.empty())
        return ZE_NOX_CORE_OK;
    // The picture goes into the frame of this call: the frame an earlier call bound may be gone.
    VideoIOYuv const& output = reconOutput(next->layerId);
    if (output.isOpen() && frame.isValid() && output.boundPlane() == frame.avFrame()->data[0])
        return ZE_NOX_CORE_OK;
    return xSetUpOutput(frame, next->layerId);
}

ZeNoxCoreError ZeVvcDecoder::xSetUpOutput(Frame& frame, int layerId)
{
    Picture const* next = m_decLib ? m_decLib->nextOutput() : nullptr;
    if (!next)
        next = m_heldField.get();
    Picture const* first = next && next->sps && next->pps ? next : FirstPicture(m_pictureList);
    if (!first)
        return ZE_NOX_CORE_OK; // nothing decoded yet
    SPS const& sps = *first->sps;
    if (m_outputBitDepth[0] == 0)
        m_outputBitDepth[0] = sps.m_bitDepth;
    if (m_outputBitDepth[1] == 0)
        m_outputBitDepth[1] = sps.m_bitDepth;
    InputNALUnit probe;
    probe.m_nuhLayerId = layerId;
    if (m_decLib->getVPS() && m_decLib->getVPS()->getMaxLayers() > 1 && !xIsNaluWithinTargetOutputLayerIdSet(&probe))
        return ZE_NOX_CORE_OK;

    {
        // The picture is written as packed rows into unshared planes of its size and format: a
        // Frame that holds others (a picture of another stream, planes another holder shows) gets
        // new ones, or the picture would be lost or written over what the other holder shows.
        const ChromaFormat cf = sps.m_chromaFormatIdc;
        VVC_CHECK(cf < CHROMA_400 || cf >= NUM_CHROMA_FORMAT, "Invalid chroma format parameter");
        const OutputInfo info = outputInfoOf(*first);
        const AVPixelFormat fmt =
            getAvPixFmtFromVvcVtmParams(std::max(m_outputBitDepth[0], m_outputBitDepth[1]), cf, m_packedYuvMode);
        int packed[4] = {};
        if (frame.isValid() && (av_image_fill_linesizes(packed, fmt, info.width) < 0 ||
                                !std::equal(packed, packed + 4, frame.avFrame()->linesize)))
            frame.reset();
        if (!frame.allocatePicture(info.width, info.height, fmt))
            return ZE_NOX_CORE_NOT_OPENED;
    }
    AVFrame* f = frame.avFrame();
    AVPixFmtDescriptor const* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    if (!desc)
        return ZE_NOX_CORE_NOT_OPENED;
    unsigned char* planes[3] = {};
    int sizes[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (!f->data[i] || f->linesize[i] <= 0)
            continue;
        const int64_t rows = i == 0 ? f->height : -((-int64_t(f->height)) >> desc->log2_chroma_h);
        const int64_t size = int64_t(f->linesize[i]) * rows;
        if (size > INT_MAX)
            return ZE_NOX_CORE_NOT_OPENED;
        planes[i] = f->data[i];
        sizes[i] = int(size);
    }
    int const internalBitDepth[2] = {sps.m_bitDepth, sps.m_bitDepth};
    reconOutput(layerId).open(std::string(), true, m_outputBitDepth, m_outputBitDepth, internalBitDepth, planes, sizes);
    return ZE_NOX_CORE_OK;
}

VideoIOYuv& ZeVvcDecoder::reconOutput(int layerId)
{
    std::unique_ptr<VideoIOYuv>& output = m_reconOutputs[layerId];
    if (!output)
        output = std::make_unique<VideoIOYuv>();
    return *output;
}

void ZeVvcDecoder::xWritePicture(Picture const& pic)
{
    bool ok = false;
    auto out = m_reconOutputs.find(pic.layerId);
    if (!m_reconFileName.empty() && out != m_reconOutputs.end()) {
        Window const& w = pic.pps->m_conformanceWindow;
        const ChromaFormat cf = pic.sps->m_chromaFormatIdc;
        ok = out->second->write(pic.getRecoBuf(), m_outputColourSpaceConversion, m_packedYuvMode,
                                w.getWindowLeftOffset() * SPS::m_winUnitX[cf],
                                w.getWindowRightOffset() * SPS::m_winUnitX[cf],
                                w.getWindowTopOffset() * SPS::m_winUnitY[cf],
                                w.getWindowBottomOffset() * SPS::m_winUnitY[cf], NUM_CHROMA_FORMAT, m_clipOutput);
    }
    m_lastWriteHadSamples = ok;
    m_lastOutput = outputInfoOf(pic);
}

void ZeVvcDecoder::xWriteFieldPair(Picture const& top, Picture const& bottom)
{
    bool ok = false;
    auto out = m_reconOutputs.find(top.layerId);
    if (!m_reconFileName.empty() && out != m_reconOutputs.end()) {
        Window const& w = top.pps->m_conformanceWindow;
        const ChromaFormat cf = top.sps->m_chromaFormatIdc;
        ok = out->second->write(
            top.getRecoBuf(), bottom.getRecoBuf(), m_outputColourSpaceConversion, m_packedYuvMode,
            w.getWindowLeftOffset() * SPS::m_winUnitX[cf], w.getWindowRightOffset() * SPS::m_winUnitX[cf],
            w.getWindowTopOffset() * SPS::m_winUnitY[cf], w.getWindowBottomOffset() * SPS::m_winUnitY[cf],
            NUM_CHROMA_FORMAT, top.topField, m_clipOutput);
    }
    m_lastWriteHadSamples = ok;
    m_lastOutput = outputInfoOf(top);
}

int ZeVvcDecoder::xWriteOutput(std::list<Picture*>*, unsigned)
{
    return writeNextOutput(false) ? 1 : 0;
}

bool ZeVvcDecoder::writeNextOutput(bool flushing)
{
    Picture const* next = m_decLib ? m_decLib->nextOutput() : nullptr;
    if (!next || !next->sps || !next->pps) {
        if (next)
            m_decLib->takeOutput(); // a picture without parameter sets cannot be written
        return false;
    }
    std::shared_ptr<Picture> pic = m_decLib->takeOutput();
    if (pic->fieldPic && !(pic->poc & 1)) {
        // A field is written with its other field, once that is output too.
        Picture const* other = m_decLib->nextOutput();
        if (other && other->fieldPic && other->poc == pic->poc + 1) {
            std::shared_ptr<Picture> second = m_decLib->takeOutput();
            xWriteFieldPair(*pic, *second);
            m_pocLastDisplay = second->poc;
            return true;
        }
        if (!flushing && !other) {
            m_heldField = std::move(pic);
            return false;
        }
    }
    if (m_heldField) {
        if (pic->fieldPic && pic->poc == m_heldField->poc + 1) {
            xWriteFieldPair(*m_heldField, *pic);
            m_heldField.reset();
            m_pocLastDisplay = pic->poc;
            return true;
        }
        xWritePicture(*m_heldField);
        m_heldField.reset();
    }
    xWritePicture(*pic);
    m_pocLastDisplay = pic->poc;
    return true;
}

ZeNoxCoreError ZeVvcDecoder::xFlushOutput(std::list<Picture*>*, int, bool stopAfterOne)
{
    if (!m_decLib)
        return ZE_NOX_CORE_INVALID_PARAMETERS;
    m_decLib->flushOutput();
    bool wrote = false;
    while (m_decLib->nextOutput() || m_heldField) {
        if (!m_decLib->nextOutput()) {
            xWritePicture(*m_heldField);
            m_heldField.reset();
            wrote = true;
        } else {
            wrote = writeNextOutput(true) || wrote;
        }
        if (wrote && stopAfterOne)
            break;
    }
    if (wrote)
        return ZE_NOX_CORE_OK;
    m_pocLastDisplay = kPocNone;
    return ZE_NOX_CORE_END_OF_FILE;
}

} // namespace ze::nox::core
