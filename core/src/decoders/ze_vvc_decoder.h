#pragma once

#include "decoders/ze_nox_sequential_decoder.h"
#include "display/frame.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class DecLib;
class InputByteStream;
class InputNALUnit;
class Picture;
class VideoIOYuv;
enum ChromaFormat : int;

namespace ze::nox::core {

// Decoder of VVC Annex B byte streams over the VVC decoder libraries. Only 4:2:0 and 4:0:0
// streams are accepted; 4:0:0 pictures come as 4:2:0 with neutral chroma. Opening without
// parameters decodes the whole stream once to count its pictures. Backward moves and jumps start
// at the IRAP picture (IDR, CRA) nearest before the target, with the parameter sets seen before
// it; the RASL pictures of a CRA are reached from the IRAP picture before it.
// With more than one decoding thread, pictures are decoded a few ahead of the caller on a thread
// of the decoder's own; the caller gets the same pictures, failures and messages at the same
// pictures as when they are decoded on its thread.
class ZeVvcDecoder : public ZeNoxSequentialDecoder
{
    Q_OBJECT
public:
    explicit ZeVvcDecoder(QObject* parent = nullptr);
    ~ZeVvcDecoder() override;

    ZeNoxCoreError openFile(QString const& fileName, StreamParams const* params) override;
    void closeFile() override;
    bool isOpened() const override;

private:
    ZeNoxCoreError openDecoder();
    void closeDecoder();
    ZeNoxCoreError validate(QString const& fileName, int& frameCount, int& width, int& height, AVPixelFormat& pixFmt);
    ZeNoxCoreError restart() override;
    bool findRandomAccessPoints(RandomAccessIndex& points) override;
    ZeNoxCoreError seekTo(RandomAccessPoint const& point) override;
    // Hands a NAL unit to the library, with the target layers a VPS sets.
    void decodeUnit(InputNALUnit& nalu);
    ZeNoxCoreError decodeNextPicture(Frame& frame) override;

    // A message of a decoding step, given out when the caller reaches the step.
    struct LogLine
    {
        QtMsgType type = QtWarningMsg;
        QString text;
        bool oncePerOpen = false; // given only the first time after an open
    };
    // The outcome of one decoding step: a picture (or the failure met at it) and what it logs.
    struct Step
    {
        std::unique_ptr<Frame> frame; // the picture, when decoded ahead
        ZeNoxCoreError result = ZE_NOX_CORE_OK;
        bool counted = false; // the step moved the stream on to the next picture number
        std::vector<LogLine> log;
    };
    // Decodes the next picture into the frame as picture number `number`, its outcome in `step`.
    void decodeStep(Frame& frame, int number, Step& step);
    // Gives out a step's messages and counts it; its result.
    ZeNoxCoreError finishStep(Step& step);
    void logLine(QtMsgType type, QString const& text) const;

    // Decoding ahead: the thread decodes steps into m_ahead until it holds kAheadSteps, it is
    // cancelled, or a step fails (it ends after queueing that step).
    static constexpr size_t kAheadSteps = 2; // with the one being decoded, three ahead
    void startAhead();
    // Cancels the thread (between pictures), waits for it and drops what it decoded ahead.
    void stopAhead();
    void runAhead(int number);
    // The next step decoded ahead, waiting for it.
    Step takeAhead();
    AVPixelFormat getAvPixFmtFromVvcVtmParams(int bitDepth, ChromaFormat chromaFormat, bool packedYuvMode) const;
    bool xIsNaluWithinTargetDecLayerIdSet(InputNALUnit const* nalu) const;
    bool xIsNaluWithinTargetOutputLayerIdSet(InputNALUnit const* nalu) const;

    ZeNoxCoreError decodeNextFrame(Frame& frame, bool writeOutput);
    ZeNoxCoreError xSetUpOutput(Frame& frame, int layerId);
    int xWriteOutput(std::list<Picture*>* pictures, unsigned temporalId);
    ZeNoxCoreError xFlushOutput(std::list<Picture*>* pictures, int layerId, bool stopAfterOne);
    // Writes the next picture the decoder has output (a field with its other field); false when
    // none was written. `flushing`: a field whose other field is not there is written alone.
    bool writeNextOutput(bool flushing);
    // Binds the output of the next picture's layer to `frame` when it is not bound yet.
    ZeNoxCoreError setUpOutputFor(Frame& frame);
    void xWritePicture(Picture const& pic);
    void xWriteFieldPair(Picture const& top, Picture const& bottom);
    VideoIOYuv& reconOutput(int layerId);

    // What the last written picture was: its visible size, chroma format and bit depth.
    struct OutputInfo
    {
        int width = 0;
        int height = 0;
        int chromaFormat = 1;
        int bitDepth = 0;
        bool operator!=(OutputInfo const& o) const
        {
            return width != o.width || height != o.height || chromaFormat != o.chromaFormat || bitDepth != o.bitDepth;
        }
    };
    static OutputInfo outputInfoOf(Picture const& pic);

    DecLib* m_decLib = nullptr;
    std::ifstream m_bitstreamFile;
    std::unique_ptr<InputByteStream> m_byteStream;
    int m_outputColourSpaceConversion = 0;
    std::string m_reconFileName = "memory";
    std::unordered_map<int, std::unique_ptr<VideoIOYuv>> m_reconOutputs;
    int m_outputBitDepth[2] = {0, 0};
    bool m_packedYuvMode = false;
    int m_maxTemporalLayer = -1;
    int m_upscaledOutput = 0;
    bool m_clipOutput = false;
    std::vector<int> m_targetDecLayerIdSet;
    int m_targetOlsIdx = -1;
    std::vector<int> m_targetOutputLayerIdSet;
    int m_lastPoc = -1;
    int m_skipFrame = 0;
    int m_pocLastDisplay = -2147483647;
    static constexpr int kMaxLayers = 64;
    bool m_newClvs[kMaxLayers];
    bool m_loopFiltered[kMaxLayers];
    bool m_skippedNalPending = false;
    bool m_eosPresentInPu = false;
    std::list<Picture*>* m_pictureList = nullptr;
    std::shared_ptr<Picture> m_heldField; // output, waiting for its other field

    // The library gives no picture samples: a written picture leaves the planes untouched.
    bool m_lastWriteHadSamples = false;
    // An IDR unit read while pictures of its layer still wait for output: they are written one
    // per call before the unit is decoded.
    std::unique_ptr<InputNALUnit> m_heldNalu;
    // An error met while decoding ahead of pictures due for output; thrown once they are written.
    std::exception_ptr m_pendingError;
    bool m_writeDue = false; // a parameter set waits until the pictures due are written
    OutputInfo m_lastOutput;
    bool m_noSamplesLogged = false;

    // Set while a step runs: its messages go there instead of to the log.
    std::vector<LogLine>* m_stepLog = nullptr;

    std::thread m_aheadThread;
    std::mutex m_aheadMutex;
    std::condition_variable m_aheadChanged; // a step queued or taken, or a cancel
    std::deque<Step> m_ahead;               // decoded, not taken yet (guarded by m_aheadMutex)
    std::vector<std::unique_ptr<Frame>> m_spareFrames; // pictures for the thread to reuse (guarded)
    bool m_aheadCancel = false;                        // guarded
    bool m_aheadEnded = false; // the thread queued its last step (guarded)

    static int m_decInstanceCount;
};

} // namespace ze::nox::core
