#pragma once

#include "raw/ImageInfo.h"
#include "raw/Util.h"
#include "raw/YUVFile.h"
#include "raw/YUVParameters.h"

#include <QDialog>

class QFile;
class Ui_YUVParametersDialog;

// Modal dialog in which the user states how a raw YUV file is read: size, chroma format, layout,
// chroma order, bit depth, bytes per value and crop, with the frame count and a preview of any
// frame. After acceptance the caller reads m_width, m_height, m_colorFormat, m_format,
// m_bitDepth, m_chromaOrder, m_frameSize and m_crop. Semi-planar words (two bytes per value)
// hold their samples in the upper bits, as P010 does; that is how the decoder reads them too.
// OK is enabled only for combinations the decoder can hand out as frames.
class YUVParametersDialog : public QDialog, public YUVParameters
{
    Q_OBJECT

public:
    enum RoundMode {
        ROUND_NEAREST = 0,
        ROUND_UP = 1,
        ROUND_DOWN = 2,
    };

    // `file` stays the caller's and must stay open while the dialog lives. A width or height
    // below 1 means no size is known: everything is then detected and the other values ignored.
    // `chromaOrder` 1: V before U.
    YUVParametersDialog(QWidget* parent, QFile* file, int width, int height, int bitDepth,
                        ImageInfo::IMG_TYPE const& type, YUVFile::Formats const& format, CropInfo const& crop,
                        int chromaOrder = 0);
    ~YUVParametersDialog() override;

    void detectResolution();
    void resolutionChanged(int width, int height);
    void updateFrameSize();
    void updateCropControls();
    void loadFrame(int frame);
    void setCropSteps(ImageInfo::IMG_TYPE type);
    int roundToCropStep(int value, int step, RoundMode mode) const;

    CropInfo m_crop;
    Ui_YUVParametersDialog* ui = nullptr;
    QFile* m_file = nullptr;
    ImageType<short> m_image;
    bool m_ready = false;
    int m_cropStepH = 1;
    int m_cropStepV = 1;
    int m_minCropWidth = 16;
    int m_minCropHeight = 16;

private slots:
    void comboReady(int idx);
    void sizeReady();
    void heightChanged(int val);
    void widthChanged(int val);
    void bppChanged(int val);
    void bitdepthChanged(int val);
    void frameChanged(int val);
    void colorSpaceChanged(int type);
    void planeOrderChanged(int idx);
    void chromaOrderChanged(int idx);
    void cropChanged();

private:
    void cropLeftFinished();
    void cropWidthFinished();
    void cropTopFinished();
    void cropHeightFinished();
    void afterCropEdit();
    void setCropRanges();
    void setSliderSteps();
    // Enables the choices that have a pixel format (tooltips say why others have none) and OK
    // only while the current combination has one.
    void updateChoices();
    // Margins that leave no picture after a size change are dropped; the crop boxes follow.
    void fitCropToSize();
    void applyPresetControls(Formats const& preset);
    int evenWidth(int w) const;
    int evenHeight(int h) const;
    void readPicture(QByteArray& data, PicSize const& g);
};
