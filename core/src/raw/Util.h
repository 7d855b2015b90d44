#pragma once

#include "raw/ImageInfo.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class QIODevice;
class ThreadConverter;

// Geometry handed to the raw-frame readers: picture size, wanted bit depths, chroma format
// and the area to fill (luma columns left .. width - right, rows top .. height - bottom).
struct PicSize
{
    int height = 0;
    int width = 0;
    int lumaBitDepth = 8;
    int chromaBitDepth = 8;
    ImageInfo::IMG_TYPE type = ImageInfo::IMG_420;
    int layerId = 0;
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    bool reservedFlag = false;
    std::vector<int64_t> reservedValues;
    int reserved1 = 0;
    int reserved2 = 0;
};

// A picture of up to three planes held in one buffer. Plane 0 is luma (or the interleaved RGB
// plane), planes 1 and 2 are U and V. Rows are packed: stride = plane width plus margins.
class ImageBase
{
public:
    struct Plane
    {
        void* data = nullptr; // first visible sample inside m_buffer, null when the plane is absent
        int64_t stride = 0;   // in samples
        int width = 0;
        int height = 0;
        uint8_t bitDepth = 8;
        CropInfo crop;
    };

    // Largest number of samples a picture may hold (all planes): keeps sizes within int.
    static constexpr int64_t kMaxSamples = 0x7fff0000;

    explicit ImageBase(int bytesPerSample);
    ImageBase(ImageBase const& other); // deep copy: own buffer, samples copied
    ImageBase& operator=(ImageBase const&) = delete;
    ~ImageBase();

    // Drops the buffer and lays the picture out anew under m_mutex. Types 0-4 are YUV, 5 and 6
    // one RGB plane, other values leave the picture without buffer. False only for sizes that are
    // negative or too large (the picture is then left without buffer).
    bool allocate(int width, int height, int lumaBitDepth, int chromaBitDepth, ImageInfo::IMG_TYPE type, CropInfo crop,
                  ImageInfo::IMG_STRUCT structure);
    // YUV layout without locking; size 0 computes the size, a positive size is used as given.
    bool allocateYUV(int width, int height, int lumaBitDepth, int chromaBitDepth, ImageInfo::IMG_TYPE type, int size,
                     CropInfo crop);
    // Sets every sample of the buffer to 0.
    void setZero();
    // Copies `other` into this picture with the rules of the copy constructor (locks this picture).
    void copyFrom(ImageBase const& other);
    // Drops the buffer and every plane record (under m_mutex).
    void release();

    bool hasSamples() const { return m_buffer != nullptr && m_size > 0; }

    std::shared_ptr<uint8_t[]> m_buffer;
    int m_size = 0;
    mutable std::mutex m_mutex;
    ImageInfo::IMG_TYPE m_type = ImageInfo::IMG_420;
    ImageInfo::IMG_STRUCT m_struct = ImageInfo::FRAME;
    int m_bytesPerSample = 2;
    Plane m_planes[3];
    int m_margins[4] = {0, 0, 0, 0}; // left, right, top, bottom
    int m_originX = 0;
    int m_originY = 0;

private:
    int64_t m_capacity = 0; // bytes of m_buffer
    bool layOutRGB(int width, int height, int lumaBitDepth, int size, CropInfo crop);
    void resetPlanes();
    bool newBuffer(int64_t samples);
};

// ImageBase with samples of type T; T = short is the picture every caller uses.
template <typename T>
class ImageType : public ImageBase
{
public:
    ImageType() : ImageBase(static_cast<int>(sizeof(T))) {}
    ImageType(ImageType const& other) = default;
    ImageType& operator=(ImageType const&) = delete;

    T* plane(int i) { return static_cast<T*>(m_planes[i].data); }
    T const* plane(int i) const { return static_cast<T const*>(m_planes[i].data); }
    T* row(int i, int y) { return plane(i) + static_cast<int64_t>(y) * m_planes[i].stride; }
    T const* row(int i, int y) const { return plane(i) + static_cast<int64_t>(y) * m_planes[i].stride; }
};

// Image building from pictures and small helpers around raw video.
class Util
{
public:
    enum COMPONENT {
        COMPONENT_ALL = 0,
        COMPONENT_Y = 1,
        COMPONENT_U = 2,
        COMPONENT_V = 3,
    };
    enum PICTURE_FORMAT {
        PICTURE_FRAME = ImageInfo::FRAME,
        PICTURE_FIELDS_TOP_FIRST = ImageInfo::FIELDS_TOP_FIRST,
        PICTURE_FIELDS_BOTTOM_FIRST = ImageInfo::FIELDS_BOTTOM_FIRST,
    };

    Util();
    ~Util();
    void init();

    // Luma weights (Kr, Kg, Kb) of the colour standards; row 1 is BT.709.
    static double const Krgb[5][3];
    // The process-wide converter thread, started at static initialisation and joined at exit.
    static ThreadConverter converter;

    // A width x height ARGB32 image of the picture: plane 0 in colour (BT.709), 1 Y, 2 U, 3 V as
    // grey. 4:0:0 pictures are always grey, RGB pictures (types 5, 6) are shown as they are.
    // Null for no picture, no samples or an unknown type. Holds the picture's mutex meanwhile.
    template <typename T>
    static QImage getImg(int plane, ImageType<T> const* image, int width, int height, bool unused,
                         int residualBitDepth);

    static char const* getCodecName(int id);
    static char const* getContainerName(int id);
    static QString colorFormatString(int type);
    static QColor const& getContrastColor(QColor const& color);
    static QString formSize(long long bits);
    static QString hashString(QByteArray const& bytes);
    static QString getRawBytes(QIODevice* device, long long bitPos, int bitCount);
    static void calculatePSNR(ImageType<short> const* a, ImageType<short> const* b, bool useCrop, COMPONENT component,
                              int lumaBitDepth, int chromaBitDepth, double psnr[3]);
    static void convertToFormat(ImageType<short>* image, PICTURE_FORMAT format);
    static int detectCodecInBinaryStream(unsigned char* data, int size);
};
