#pragma once

#include "raw/ImageInfo.h"
#include "raw/Util.h"
#include "raw/YUVFile.h"
#include "decoders/ze_nox_decoder.h"

#include <QByteArray>
#include <QVector>

class QFile;

namespace ze::nox::core {

// Decoder of headerless raw YUV files of fixed-size frames and of YUV4MPEG2 files (recognised by
// their signature whatever the suffix). Every frame is read directly at its offset in the index.
class ZeYuvDecoder : public ZeNoxDecoder
{
    Q_OBJECT
public:
    explicit ZeYuvDecoder(QObject* parent = nullptr);
    ~ZeYuvDecoder() override;

    ZeNoxCoreError openFile(QString const& fileName, StreamParams const* params) override;
    void closeFile() override;
    bool isOpened() const override;
    // Full stored size before crop, with the crop.
    StreamParams params() const override;
    // The visible size: the stored size less the crop.
    int width() const override;
    int height() const override;
    // Counted from the first frame of the range whatever the range is now.
    int curFrameNumber() const override;
    int curAbsoluteFrameNumber() const override;
    ZeNoxCoreError getFirstFrame(Frame& frame) override;
    ZeNoxCoreError getPrevFrame(Frame& frame) override;
    ZeNoxCoreError getNextFrame(Frame& frame) override;
    ZeNoxCoreError getLastFrame(Frame& frame) override;
    ZeNoxCoreError getFrame(int n, Frame& frame) override;

    // Stores the raw parameters unchanged for the next open and returns the pixel format of the
    // combination (AV_PIX_FMT_NONE, with a warning, when there is none). They are checked by openFile.
    // `chromaOrder` 1: the file stores V before U (YV12, NV21); the planes are swapped after reading.
    int setRequiredYuvParams(int width, int height, int bitDepth, ImageInfo::IMG_TYPE chromaFormat,
                             YUVFile::Formats planeOrder, int frameSize, CropInfo const& crop, int chromaOrder = 0);
    // 0 U before V, 1 V before U.
    int chromaOrder() const { return m_chromaOrder; }

    // Copies the visible part of `picture` into `frame` in `pixelFormat`.
    ZeNoxCoreError convertImageToFrame(ImageType<short> const& picture, Frame& frame, AVPixelFormat pixelFormat) const;

    // Reads frame n, counted from the effective first frame; false outside the stream or the range.
    bool readFrame(qint64 n, ImageType<short>& picture);
    // Bytes of one frame: luma plus both chroma planes of rounded-up halved sides for YUV formats,
    // 3 or 4 bytes per pixel for RGB; two bytes per sample above 8 bits. -1 for a bad size or format.
    qint64 getFrameSize(int width, int height, int bitDepth, ImageInfo::IMG_TYPE chromaFormat) const;
    // Raw parameters of a stream-parameters record's pixel format; false for other formats.
    bool getZeParamsFromAvPixFmt(AVPixelFormat pixFmt, int& bitDepth, ImageInfo::IMG_TYPE& chromaFormat,
                                 YUVFile::Formats& planeOrder) const;
    // Pixel format of a combination of raw parameters; AV_PIX_FMT_NONE with a warning when there is none.
    AVPixelFormat getAvPixFmtFromZeParams(int bitDepth, ImageInfo::IMG_TYPE chromaFormat,
                                          YUVFile::Formats planeOrder) const;
    // The same table without warnings, for callers that only ask whether a combination can be read.
    // `why`, when given, receives the reason for AV_PIX_FMT_NONE.
    static AVPixelFormat pixelFormatOf(int bitDepth, ImageInfo::IMG_TYPE chromaFormat, YUVFile::Formats planeOrder,
                                       QString* why = nullptr);
    bool openSrcFile(QString const& fileName);
    void closeSrcFile();

    // Most frames one index holds.
    static constexpr int kMaxFrames = 1 << 24;

private:
    struct Y4MInfo
    {
        YUVFile::Y4MHeader header;
        int frameSize = 0;
        QVector<qint64> offsets;
    };

    // Examines a file as YUV4MPEG2: false when it lacks the signature or a usable picture size, or
    // holds no complete frame of the stream's size (a short last frame is taken after a complete
    // one). A chroma format without planar layout is answered true with an empty index (the pixel
    // format then rejects the stream).
    static bool tryToParseY4M(QString const& fileName, Y4MInfo& info);
    // Checks the stored raw parameters; 15 when they cannot describe a picture.
    ZeNoxCoreError validateRawParams() const;
    // Offsets 0, m_frameSize, ... below the file size.
    ZeNoxCoreError buildRawIndex();
    ZeNoxCoreError finishOpen();
    void setReader();
    // Reads frame `absolute` (counted from the start of the stream) into `picture`.
    bool readFrameAt(qint64 absolute, ImageType<short>& picture);
    ZeNoxCoreError decodeAt(qint64 target, int newCurFrame, Frame& frame);
    ZeNoxCoreError fail(ZeNoxCoreError err);

    // m_width and m_height are the full stored size.
    int m_bitDepth = 0;
    ImageInfo::IMG_TYPE m_chromaFormat = ImageInfo::IMG_420;
    YUVFile::Formats m_planeOrder = YUVFile::FORMAT_PLANAR;
    int m_frameSize = 0;
    CropInfo m_cropInfo;
    int m_chromaOrder = 0;
    // The raw parameters came from a YUV4MPEG2 header: a later open examines its file again.
    bool m_paramsFromY4M = false;
    ImageType<short> m_image;
    QFile* m_file = nullptr;
    YUVFile m_yuvFile;
    QVector<qint64> m_frameOffsets; // m_frameCount follows its size
    int m_rangeFrameNumber = -1;    // frame read last, counted from the first frame of the range
    QByteArray m_frameData;         // bytes of the frame being read, kept between frames
};

} // namespace ze::nox::core
