#pragma once

#include "raw/ImageInfo.h"
#include "raw/YUVFile.h"
#include "common/ze_nox_core_error.h"
#include "common/ze_stream.h"

#include <QObject>
#include <QString>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace ze::nox::core {

class Frame;

// What is known of an opened stream.
struct StreamParams
{
    bool valid = false; // set when a decoder's params() made the record
    ZeStreamType type = ZE_STREAM_TYPE_UNKNOWN;
    int width = 0;  // raw YUV: full stored width before crop
    int height = 0; // raw YUV: full stored height before crop
    AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
    int frames = 0;      // frames of the whole stream
    CropInfo crop;       // zero except for raw YUV
    int chromaOrder = 0; // raw YUV: 1 when the file stores V before U (YV12, NV21)
};

// Asks the GUI for the raw parameters of a raw YUV file. Answers 0, 6 (file not openable) or 9
// (cancelled). chromaOrder: 0 U before V, 1 V before U. May show a modal dialog: called on the
// GUI thread only.
typedef ZeNoxCoreError (*YuvRequiredParamsCallbackFn)(QString const& fileName, int& width, int& height, int& bitDepth,
                                                      ImageInfo::IMG_TYPE& chromaFormat, YUVFile::Formats& planeOrder,
                                                      int& chromaOrder, int& frameSize, CropInfo& crop,
                                                      bool forceDialog);

// The abstract stream decoder. A decoder is used by one thread at a time.
// Frame numbers of the navigation calls count from the effective first frame of the range.
// The base holds what every decoder knows of its open stream and answers the plain getters.
class ZeNoxDecoder : public QObject
{
    Q_OBJECT
public:
    explicit ZeNoxDecoder(QObject* parent = nullptr);
    ~ZeNoxDecoder() override;

    virtual ZeNoxCoreError openFile(QString const& fileName, StreamParams const* params) = 0;
    virtual void closeFile() = 0;
    virtual bool isOpened() const = 0;
    virtual ZeNoxCoreError openResult() const;
    virtual QString filename() const;
    // Default: valid, visible size, zero crop.
    virtual StreamParams params() const;
    virtual int width() const;
    virtual int height() const;
    virtual AVPixelFormat pixelFormat() const;
    virtual ZeStreamType streamType() const;
    // Default: file size x 8 x fps / (frame count x 1000) over the whole file, truncated and
    // bounded by INT_MAX; 0 when closed or empty or for a rate that is not positive.
    virtual int bitrateKbps(double fps) const;
    virtual int getOriginalFrameCount() const;
    virtual int curFrameNumber() const = 0;
    virtual int curAbsoluteFrameNumber() const = 0;
    virtual ZeNoxCoreError getFirstFrame(Frame& frame) = 0;
    virtual ZeNoxCoreError getPrevFrame(Frame& frame) = 0;
    virtual ZeNoxCoreError getNextFrame(Frame& frame) = 0;
    // Default: getNextFrame.
    virtual ZeNoxCoreError getNextFrameRaw(Frame& frame);
    virtual ZeNoxCoreError getLastFrame(Frame& frame) = 0;
    virtual ZeNoxCoreError getFrame(int n, Frame& frame) = 0;

    // The range in use: -1 = unset (first frame 0, last frame count - 1).
    int firstFrameNumber() const; // effective first frame
    int lastFrameNumber() const;  // effective last frame
    // Clamped writes (first into 0..effective last, last into effective first..count - 1), each
    // followed by its signal. Only on the GUI thread while nothing steps the decoder.
    void setFirstFrameNumber(int n);
    void setLastFrameNumber(int n);

signals:
    void firstFrameNumberChanged();
    void lastFrameNumberChanged();

protected:
    ZeNoxDecoder(ZeStreamType type, QObject* parent);

    // The stream's size, pixel format and frame count from a stream-parameters record.
    void takeStreamParams(StreamParams const& params);

    int m_firstFrameNumber = -1;
    int m_lastFrameNumber = -1;

    // The open stream, as the getters report it.
    QString m_fileName;
    ZeNoxCoreError m_openResult = ZE_NOX_CORE_NOT_OPENED;
    ZeStreamType m_streamType = ZE_STREAM_TYPE_UNKNOWN;
    int m_width = 0;
    int m_height = 0;
    AVPixelFormat m_pixFmt = AV_PIX_FMT_NONE;
    int m_frameCount = 0;
};

} // namespace ze::nox::core
