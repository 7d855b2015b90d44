#pragma once

#include "raw/ImageInfo.h"
#include "raw/Util.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QFile;

namespace Core {

// A picture as a decoding core describes it: its numbers in decode and display order, its layer
// and, for a repeated picture, the picture it repeats.
class Picture
{
public:
    virtual ~Picture() = default;
    virtual Picture* getRepeatedPic() const { return nullptr; }
    virtual int getLayerId() const { return 0; }

    int decodeOrder = -1;
    int displayOrder = -1;
};

} // namespace Core

// Reader state of one raw YUV or YUV4MPEG2 file.
class YUVFile
{
public:
    // Sample layout of a raw file.
    enum Formats : int32_t {
        FORMAT_PLANAR = 0,
        FORMAT_SEMI_PLANAR = 1,
        FORMAT_YUY2 = 2,
        FORMAT_UYVY = 3,
        FORMAT_Y210 = 4,
        FORMAT_Y216 = 5,
        FORMAT_AYUV = 6,
        FORMAT_Y410 = 7,
        FORMAT_Y416 = 8,
        FORMAT_P010 = 9,
    };

    // Chroma format given to a Y4M header whose chroma tag names a layout this reader cannot
    // represent (for example 444alpha or 411): no IMG_TYPE has this value.
    static constexpr ImageInfo::IMG_TYPE Y4M_UNSUPPORTED_CHROMA = static_cast<ImageInfo::IMG_TYPE>(7);
    // Bounds of each side of a Y4M picture.
    static constexpr int kY4MMaxSide = 16384;

    // One Y4M stream or frame header.
    struct Y4MHeader
    {
        int width = 0;
        int height = 0;
        ImageInfo::IMG_TYPE type = ImageInfo::IMG_420;
        Formats format = FORMAT_PLANAR;
        int bitDepth = 8;
        double aspect = 0;
        double frameRate = 0;

        // Size within 1..kY4MMaxSide, a chroma format 4:0:0 to 4:4:0, bit depth 8 to 16.
        bool isValid() const;
    };

    // One entry of the Y4M frame index.
    struct FrameParams
    {
        int width = 0;
        int height = 0;
        ImageInfo::IMG_TYPE type = ImageInfo::IMG_420;
        Formats format = FORMAT_PLANAR;
        int bitDepth = 8;
        int64_t pos = 0;  // file offset of the frame's first sample byte
        int64_t size = 0; // sample bytes of the frame
    };

    // One registered file.
    struct YUVLayer
    {
        YUVLayer() = default;
        YUVLayer(YUVLayer const& other);
        YUVLayer& operator=(YUVLayer const& other);

        int isY4M = 0;
        bool isZip = false;
        bool isGzip = false;
        QDateTime lastModified;
        QString fileName;
        QString name2;
        QList<int> displayList;
        std::vector<FrameParams> frames;
        Y4MHeader header;
        ImageType<short> image;
        bool loaded = false;
    };

    static const QString MODE_400_PLANAR;
    static const QString MODE_400_NV12;
    static const QString MODE_420_PLANAR;
    static const QString MODE_420_NV12;
    static const QString MODE_422_PLANAR;
    static const QString MODE_422_NV12;
    static const QString MODE_444_PLANAR;
    static const QString MODE_444_NV12;
    static const QString ORDER_DISPLAY;
    static const QString ORDER_DECODE;

    YUVFile();
    ~YUVFile();
    YUVFile(YUVFile const&) = delete;
    YUVFile& operator=(YUVFile const&) = delete;

    // Registers a file as layer `layerId`; a Y4M file is indexed here. False for a missing or
    // unreadable file and for a Y4M file whose stream header fails; nothing is stored then.
    bool setFile(QString const& fileName, int layerId);

    // Parse the rest of a Y4M stream header line (after "YUV4MPEG2") or frame header line (after
    // "FRAME"). A stream header whose size is out of bounds comes back as the defaults; an
    // unsupported chroma tag gives Y4M_UNSUPPORTED_CHROMA.
    static Y4MHeader readY4MHeader(QFile* file);
    static Y4MHeader readY4MFrameHeader(QFile* file, Y4MHeader* stream);
    static Y4MHeader readY4MFrameHeader(QFile* file);

    // Sample bytes of one planar frame: W x H plus both chroma planes of ceil-halved sides,
    // two bytes per sample above 8 bits; -1 for a chroma format without planes or a bad size.
    static int64_t frameSize(int width, int height, ImageInfo::IMG_TYPE type, int bitDepth);

    void reset(int layerId);
    QDateTime modifiedTime(int layerId) const;
    void updatetLastModifiedTime(int layerId);
    bool isExist(int layerId) const;
    bool isExist() const;
    bool setDisplayInfo(QList<int> list, int layerId);
    static int check(QString const& fileName);
    int64_t calculateBytesToSkip(int layerId, bool useDisplayList) const;
    void loadEmpty(int index, int layerId);
    bool loadYUV(int layerId);
    bool loadY4M(int layerId);
    bool load(int layerId);
    void reload(int layerId);
    bool loadPicture(Core::Picture* picture);

    // Reads one whole frame from `data` into `image` (already laid out for `geometry`) in the
    // layout m_format: luma, then planar or semi-planar chroma. Missing bytes read as 0.
    void readData(ImageType<short>& image, QByteArray& data, int layerId, PicSize const& geometry);
    // General form of readData: areas and bit depths from the picture's own planes.
    void readYUV(ImageType<short>& image, QByteArray& data, int layerId, PicSize const& geometry);

    // Plane readers: advance `pos` by the bytes they consume (also past the end of `data`).
    static void readLuma8Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readLuma16Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g, int bitDepth);
    static void readChroma420Planar8Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readChroma422Planar8Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readChroma444Planar8Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readChroma440Planar8Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readChroma420Planar16Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,
                                         int bitDepth);
    static void readChroma422Planar16Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,
                                         int bitDepth);
    static void readChroma444Planar16Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,
                                         int bitDepth);
    static void readChroma440Planar16Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,
                                         int bitDepth);
    static void readChroma420NV128Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readChroma422NV128Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readChroma444NV128Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readChroma440NV128Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readChroma420NV1216Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,
                                       int bitDepth);
    static void readChroma422NV1216Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,
                                       int bitDepth);
    static void readChroma444NV1216Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,
                                       int bitDepth);
    static void readChroma440NV1216Bit(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g,
                                       int bitDepth);
    static void readYUY2(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readUYVY(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readY210(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readY216(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readAYUV(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readY410(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    static void readY416(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g);
    // `order` 10: stored as (b2, b1, b0); 11, 12: (b0, b1, b2) for RGB24, (b1, b2, b3) for order 12 of RGB32.
    static void readRGB24(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g, int order);
    static void readRGB32(ImageType<short>& image, QByteArray& data, int& pos, PicSize const& g, int order);

    Formats m_format = FORMAT_PLANAR;
    ImageInfo::IMG_TYPE m_imgType = ImageInfo::IMG_420;
    QString m_order;
    int m_bitDepth = 8; // > 0: file bit depth; 0: the picture's plane bit depths; < 0: m_layerBitDepths
    int m_indexOffset = 0;
    bool m_useCrop = true;
    ImageType<short> m_image;
    QString m_fileName;
    int m_curIndex = -1;
    bool m_useDisplayList = false;
    std::vector<std::unique_ptr<PicSize>> m_pictures;
    QMap<int, int> m_layerBitDepths;
    QMap<int, YUVLayer> m_layers;

private:
    void readFrame(ImageType<short>& image, QByteArray& data, int lumaDepth, int chromaDepth, Formats format,
                   PicSize const& g) const;
    PicSize const* currentPicture(int layerId, bool& inRange) const;
    int fileBitDepth(int layerId, PicSize const& g, bool chroma) const;
    int64_t pictureBytes(PicSize const& g, int bitDepth) const;
};
