#pragma once

#include "raw/ImageInfo.h"
#include "raw/YUVFile.h"

#include <QList>
#include <QString>

#include <cstdint>

class QFile;

// The parameter set of a raw YUV file (size, chroma format, layout, bit depth) with its preset
// tables and the guess of it from the file name and contents. No GUI: the raw-parameters dialog
// derives from it.
class YUVParameters
{
public:
    // Defaults of one layout within one chroma format.
    struct Formats
    {
        YUVFile::Formats format = YUVFile::FORMAT_PLANAR;
        int bitDepth = 0;
        int bytesPerValue = 0;
        int chromaOrder = 0;
        int reserved = 0;
        int fps = 0;
        double bytesPerPixel = 0; // frame bytes per luma sample at one byte per value
        bool editable = false;    // chroma order, bit depth and bytes per value may be changed
    };

    struct ColorFormatPresets
    {
        ImageInfo::IMG_TYPE type;
        QString name;
        QList<Formats> formats;
    };

    struct Resolution
    {
        int width;
        int height;
        char const* name;
    };

    static QList<ColorFormatPresets> const ListDefaultPreset;
    // Rows 1 to 44 are the standard sizes; rows 0 and 45 are {-1, -1, ""}.
    static Resolution const standardResolutions[46];
    static constexpr int kMaxSide = 16384;

    // The first preset of `type` with layout `format`; zeros when there is none.
    static Formats getDefaultPresetFormats(ImageInfo::IMG_TYPE type, YUVFile::Formats format);
    // Makes type, layout and size the current set with the preset's defaults.
    void setDefaultPresetFormats(ImageInfo::IMG_TYPE type, YUVFile::Formats format, int width, int height);
    // Guesses the parameters of `file` (open for reading): file name, then contents, then
    // standard sizes, then 1920 x 1080 4:2:0.
    void detectResolution(QFile* file);

    // Whole frames of `fileSize` at `frameSize` bytes each; 0 for a frame size of 0 or less.
    static int frameCountOf(int64_t fileSize, int64_t frameSize);
    // Bytes of one frame of the layout: chroma planes of odd sizes are rounded up, as the readers
    // and the decoder read them; packed 4:2:2 rows hold whole pairs. 0 for a pair without preset
    // or a size below 1.
    static int64_t frameBytes(ImageInfo::IMG_TYPE type, YUVFile::Formats format, int width, int height,
                              int bytesPerValue);

    int m_width = 0;
    int m_height = 0;
    int m_frameCount = -1;
    int64_t m_frameSize = 0;
    int64_t m_fileSize = 0;
    ImageInfo::IMG_TYPE m_colorFormat = ImageInfo::IMG_420;
    YUVFile::Formats m_format = YUVFile::FORMAT_PLANAR;
    int m_bitDepth = 8;
    int m_bytesPerValue = 1;
    double m_aspectRatio = 1.0;
    double m_fps = 25.0;
    int m_chromaOrder = 0;

    // The sample format a file name states: an FFmpeg pixel-format name ("yuv420p10le",
    // "gray10") gives the chroma format and bit depth, a depth word ("10bit", "_10b", "12-bit")
    // the bit depth. Zero / false where the name states nothing.
    struct StatedFormat
    {
        bool hasType = false;
        ImageInfo::IMG_TYPE type = ImageInfo::IMG_420;
        int bitDepth = 0;
    };
    static StatedFormat formatFromName(QString const& baseName);

private:
    bool detectFromName(QString const& baseName, StatedFormat const& stated);
    bool detectFromContents(QFile* file, StatedFormat const& stated);
    bool detectStandardSize(QFile* file, StatedFormat const& stated);
    // The stated bit depth for the planar and semi-planar layouts, whose depth is free.
    void applyStatedDepth(StatedFormat const& stated);
    // Sets the bit depth with its bytes per value and recomputes the frame size and count.
    void setSampleDepth(int bitDepth);
};
