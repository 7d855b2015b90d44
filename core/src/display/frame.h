#pragma once

#include <QObject>
#include <QSize>
#include <QString>

#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

class QImage;
struct SwsContext;

namespace ze::nox::core {

// Which part of a picture is meant; also the column of a component in the per-frame metric values.
enum Component : int {
    COMPONENT_Y = 0,
    COMPONENT_U = 1,
    COMPONENT_V = 2,
    COMPONENT_YUV = 3,
};

QString GetComponentName(Component component);

// Sample values at one position: Y, U, V for pixel(), R, G, B for pixelRgb().
struct PixelValues
{
    bool valid = false;
    int c0 = 0;
    int c1 = 0;
    int c2 = 0;
};

// 64 colours, index 0 white through yellow, orange and red to index 63 black.
extern const uint8_t heatMapGradient[64][3];

// One decoded picture in FFmpeg form plus a converted picture for display.
// Used by one thread at a time; never copied.
class Frame : public QObject
{
    Q_OBJECT
public:
    Frame();
    ~Frame() override;
    Frame(Frame const&) = delete;
    Frame& operator=(Frame const&) = delete;

    bool isValid() const;
    int bitDepth() const;
    // Drops the picture, the converted picture and the scale context; the Frame is as new.
    void reset();

    // Y, U, V sample values at (x, y); chroma of subsampled, interleaved and packed layouts is
    // taken at the chroma position. Words holding their value in the high bits (P010) are
    // shifted down to the value.
    PixelValues pixel(int x, int y) const;
    // R, G, B of the converted picture; valid only when it is RGB24 (after a heat map or the
    // colour image of an 8-bit picture or a deeper planar YUV picture).
    PixelValues pixelRgb(int x, int y) const;

    // The whole picture in colour (component 3) or one plane in grey at full picture size.
    // Colour is RGB888; deeper planar YUV pictures are rounded to 8 bits first, other deeper
    // layouts give 16-bit RGBA. Grey is 16-bit above 8 bits. A detached image of the right size
    // and format is written in place. False with a null image without a picture.
    bool fillImage(QImage& image, Component component);
    // Each sample's value as one of the 64 gradient colours, 63 at maximum and above.
    bool fillImageAsHeatMap(QImage& image, Component component, int maximum);
    // target = |a - b| per sample; a and b of one size and format, else false and target empty.
    // Planes of a matching, unshared target are overwritten in place.
    static bool getDiff(Frame& target, Frame const& a, Frame const& b);

    void clear();
    void clearRgbFrame();
    void clearScaleContext();
    bool dump(QString const& fileName) const;
    static bool dumpAvFrame(QString const& fileName, AVFrame const* frame);
    void saveAsJpeg(QString const& fileName, QSize const& size);

    static const QString m_origImageJpegFormat;

    // For decoders: the picture they write into.
    AVFrame* avFrame() { return m_frame; }
    AVFrame const* avFrame() const { return m_frame; }
    int width() const;
    int height() const;
    AVPixelFormat pixelFormat() const;
    // Makes the picture hold reference-counted planes of this size and format, packed rows
    // (alignment 1). Planes that already match are kept; otherwise the Frame is reset and new
    // planes are allocated. False (with a warning) when the allocation fails; the Frame is then empty.
    bool allocatePicture(int width, int height, AVPixelFormat format);

private:
    // Makes m_rgbFrame a picture of m_frame's size in the given format, releasing a converted
    // picture (and the scale context) of another format or size.
    bool prepareRgbFrame(AVPixelFormat format);

    // Rounds a deeper planar YUV picture to 8 bits into m_frame8; nullptr when the layout has
    // no 8-bit counterpart (or on allocation failure).
    AVFrame const* roundedTo8Bits();

    AVFrame* m_frame = nullptr;
    AVFrame* m_rgbFrame = nullptr;
    AVFrame* m_frame8 = nullptr;
    SwsContext* m_scaleContext = nullptr;
    // The source picture the scale context was made for.
    int m_scaleSrcWidth = 0;
    int m_scaleSrcHeight = 0;
    AVPixelFormat m_scaleSrcFormat = AV_PIX_FMT_NONE;
};

} // namespace ze::nox::core
