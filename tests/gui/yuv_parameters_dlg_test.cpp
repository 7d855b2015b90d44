// The raw-parameters dialog, offscreen: values it starts from, handlers, crop rules, frame
// counts and the preview.
#include "yuv_parameters_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

class YuvDialog : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // Writes `bytes` to a file of that name and opens it for reading.
    QFile* file(QString const& name, QByteArray const& bytes)
    {
        auto f = std::make_unique<QFile>(m_dir.filePath(name));
        EXPECT_TRUE(f->open(QIODevice::WriteOnly));
        f->write(bytes);
        f->close();
        EXPECT_TRUE(f->open(QIODevice::ReadOnly));
        m_files.push_back(std::move(f));
        return m_files.back().get();
    }

    // `frames` planar 8-bit 4:2:0 frames of one colour.
    static QByteArray Frames420(int w, int h, int frames, char y, char u, char v)
    {
        int const c = ((w + 1) / 2) * ((h + 1) / 2);
        QByteArray one = QByteArray(w * h, y) + QByteArray(c, u) + QByteArray(c, v);
        QByteArray all;
        for (int i = 0; i < frames; ++i)
            all += one;
        return all;
    }

    template <typename T>
    static T* child(QObject* dlg, char const* name)
    {
        T* w = dlg->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    static QColor PreviewAt(YUVParametersDialog& dlg, double fx, double fy)
    {
        QPixmap const pm = child<QLabel>(&dlg, "viewWidget")->pixmap(Qt::ReturnByValue);
        if (pm.isNull())
            return QColor();
        QImage const img = pm.toImage();
        return img.pixelColor(int(fx * (img.width() - 1)), int(fy * (img.height() - 1)));
    }

    static void Finish(QSpinBox* box, int value)
    {
        box->setValue(value);
        emit box->editingFinished();
    }

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<QFile>> m_files;
};

} // namespace

TEST_F(YuvDialog, DetectsFromATenBitFileName)
{
    int64_t const frame = int64_t(1920) * 1080 * 3; // 4:2:0 at two bytes per sample
    QFile* f = file(QStringLiteral("clip_1920x1080_p010.yuv"), QByteArray(int(2 * frame + 100), '\0'));
    YUVParametersDialog dlg(nullptr, f, 0, 0, 0, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{});
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("clip_1920x1080_p010.yuv"));
    // The size comes from the name; the P010 layout falls back to 4:2:0 planar 8 bits.
    EXPECT_EQ(dlg.m_width, 1920);
    EXPECT_EQ(dlg.m_height, 1080);
    EXPECT_EQ(dlg.m_colorFormat, ImageInfo::IMG_420);
    EXPECT_EQ(dlg.m_format, YUVFile::FORMAT_PLANAR);
    EXPECT_EQ(dlg.m_bitDepth, 8);
    EXPECT_EQ(dlg.m_bytesPerValue, 1);
    EXPECT_EQ(dlg.m_frameSize, frame / 2);
    EXPECT_EQ(dlg.m_frameCount, 4);
    EXPECT_EQ(child<QSpinBox>(&dlg, "widthLabel")->value(), 1920);
    EXPECT_EQ(child<QSpinBox>(&dlg, "heightLabel")->value(), 1080);
    EXPECT_EQ(child<QSpinBox>(&dlg, "bitdepthW")->value(), 8);
    EXPECT_EQ(child<QComboBox>(&dlg, "planeOrderW")->currentText(), QStringLiteral("Planar"));
    EXPECT_EQ(child<QLabel>(&dlg, "framesLabel")->text(), QStringLiteral("<b>4 frames</b>"));
    EXPECT_EQ(child<QSlider>(&dlg, "frameSlider")->maximum(), 3);
    // The preview is scaled into the 640 x 480 view keeping the aspect ratio.
    EXPECT_EQ(child<QLabel>(&dlg, "viewWidget")->pixmap(Qt::ReturnByValue).size(), QSize(640, 360));

    // Described as semi-planar 10-bit: two bytes per value, two frames.
    QMetaObject::invokeMethod(child<QComboBox>(&dlg, "planeOrderW"), "activated", Q_ARG(int, 1));
    child<QSpinBox>(&dlg, "bitdepthW")->setValue(10);
    EXPECT_EQ(dlg.m_bytesPerValue, 2);
    EXPECT_EQ(dlg.m_frameSize, frame);
    EXPECT_EQ(dlg.m_frameCount, 2);
    EXPECT_EQ(child<QLabel>(&dlg, "framesLabel")->text(), QStringLiteral("<b>2 frames</b>"));

    QTimer::singleShot(0, &dlg, [&] {
        child<QDialogButtonBox>(&dlg, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_width, 1920);
    EXPECT_EQ(dlg.m_height, 1080);
    EXPECT_EQ(dlg.m_colorFormat, ImageInfo::IMG_420);
    EXPECT_EQ(dlg.m_format, YUVFile::FORMAT_SEMI_PLANAR);
    EXPECT_EQ(dlg.m_bitDepth, 10);
    EXPECT_EQ(dlg.m_frameSize, frame);
}

TEST_F(YuvDialog, CallerValuesAndTheirValidation)
{
    QByteArray const data = Frames420(64, 48, 10, 16, 128, 128);
    QFile* f = file(QStringLiteral("stored.yuv"), data + QByteArray(10, '\0'));
    {
        // Valid stored values survive construction (no handler runs while the form is filled).
        CropInfo const crop{8, 16, 8, 0};
        YUVParametersDialog dlg(nullptr, f, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_SEMI_PLANAR, crop);
        EXPECT_EQ(dlg.m_format, YUVFile::FORMAT_SEMI_PLANAR);
        EXPECT_EQ(child<QComboBox>(&dlg, "planeOrderW")->currentIndex(), 1);
        EXPECT_EQ(dlg.m_crop.left, 8);
        EXPECT_EQ(dlg.m_crop.right, 16);
        EXPECT_EQ(dlg.m_crop.top, 8);
        EXPECT_EQ(child<QSpinBox>(&dlg, "cropWidth")->value(), 40);
        EXPECT_EQ(dlg.m_frameCount, 10);
        EXPECT_EQ(child<QSlider>(&dlg, "frameSlider")->maximum(), 9);
        EXPECT_EQ(child<QLabel>(&dlg, "framesLabel")->text(), QStringLiteral("<b>10 frames</b>"));
        QTimer::singleShot(0, &dlg, [&] {
            child<QDialogButtonBox>(&dlg, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
        });
        EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    }
    {
        // Setting the sliders while the form is filled must not run their handlers: a stored
        // width above the sliders' 4096 survives.
        YUVParametersDialog dlg(nullptr, f, 5000, 16, 8, ImageInfo::IMG_400, YUVFile::FORMAT_PLANAR, CropInfo{});
        EXPECT_EQ(dlg.m_width, 5000);
        EXPECT_EQ(child<QSlider>(&dlg, "widthSlider")->value(), 4096);
        EXPECT_EQ(dlg.m_frameSize, 5000 * 16);
        EXPECT_EQ(dlg.m_frameCount, data.size() / (5000 * 16));
    }
    struct Case
    {
        char const* what;
        int depth;
        int type;
        int layout;
        int wantDepth;
        ImageInfo::IMG_TYPE wantType;
        YUVFile::Formats wantLayout;
    } const cases[] = {
        {"depth below 8", 3, 1, 0, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR},
        {"depth above 16", 40, 1, 0, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR},
        {"unknown chroma format", 8, 9, 0, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR},
        {"RGB chroma format", 8, 5, 0, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR},
        {"layout without preset", 8, 1, 2, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR},
        {"layout number past the list", 8, 3, 42, 8, ImageInfo::IMG_444, YUVFile::FORMAT_PLANAR},
        {"10-bit planar", 10, 1, 0, 10, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        YUVParametersDialog dlg(nullptr, f, 64, 48, c.depth, static_cast<ImageInfo::IMG_TYPE>(c.type),
                                static_cast<YUVFile::Formats>(c.layout), CropInfo{});
        EXPECT_EQ(dlg.m_bitDepth, c.wantDepth);
        EXPECT_EQ(dlg.m_colorFormat, c.wantType);
        EXPECT_EQ(dlg.m_format, c.wantLayout);
        EXPECT_GT(dlg.m_frameSize, 0);
        EXPECT_EQ(dlg.m_bytesPerValue, c.wantDepth > 8 ? 2 : 1);
    }
}

TEST_F(YuvDialog, NameDetectionAndTheSizeRules)
{
    QByteArray const data = Frames420(1280, 720, 2, 16, 128, 128) + QByteArray(1000, '\0');
    QFile* f = file(QStringLiteral("clip_1280x720.yuv"), data);
    YUVParametersDialog dlg(nullptr, f, -1, -1, 0, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{});
    EXPECT_EQ(dlg.m_width, 1280);
    EXPECT_EQ(dlg.m_height, 720);
    EXPECT_EQ(dlg.m_format, YUVFile::FORMAT_PLANAR);
    EXPECT_EQ(dlg.m_bitDepth, 8);
    EXPECT_EQ(dlg.m_frameCount, data.size() / (1280 * 720 * 3 / 2));
    auto* plane = child<QComboBox>(&dlg, "planeOrderW");
    ASSERT_EQ(plane->count(), 2);
    EXPECT_EQ(plane->itemText(0), QStringLiteral("Planar"));
    EXPECT_EQ(plane->itemText(1), QStringLiteral("Semi-planar"));
    auto* sizes = child<QComboBox>(&dlg, "standardResolutionsW");
    ASSERT_EQ(sizes->count(), 45);
    EXPECT_EQ(sizes->itemText(0), QStringLiteral("Select predefined value"));
    EXPECT_EQ(sizes->itemText(1), QStringLiteral("128x96   SQCIF"));

    // A predefined size.
    QMetaObject::invokeMethod(sizes, "activated", Q_ARG(int, 6));
    EXPECT_EQ(dlg.m_width, 352);
    EXPECT_EQ(dlg.m_height, 288);
    EXPECT_EQ(dlg.m_frameSize, 352 * 288 * 3 / 2);

    // A typed size above the sliders' range keeps its value; 4:2:0 raises it to even.
    Finish(child<QSpinBox>(&dlg, "widthLabel"), 5001);
    EXPECT_EQ(dlg.m_width, 5002);
    EXPECT_EQ(child<QSlider>(&dlg, "widthSlider")->value(), 4096);
    EXPECT_EQ(dlg.m_frameSize, int64_t(5002) * 288 * 3 / 2);

    // 4:2:2 raises an odd width only, 4:4:0 an odd height only.
    auto* format = child<QComboBox>(&dlg, "colorSpaceW");
    QMetaObject::invokeMethod(format, "activated", Q_ARG(int, 3)); // 4:4:4 keeps odd sizes
    Finish(child<QSpinBox>(&dlg, "widthLabel"), 101);
    Finish(child<QSpinBox>(&dlg, "heightLabel"), 51);
    ASSERT_EQ(dlg.m_width, 101);
    ASSERT_EQ(dlg.m_height, 51);
    QMetaObject::invokeMethod(format, "activated", Q_ARG(int, 2));
    EXPECT_EQ(dlg.m_width, 102);
    EXPECT_EQ(dlg.m_height, 51);
    QMetaObject::invokeMethod(format, "activated", Q_ARG(int, 3));
    Finish(child<QSpinBox>(&dlg, "widthLabel"), 101);
    QMetaObject::invokeMethod(format, "activated", Q_ARG(int, 4));
    EXPECT_EQ(dlg.m_width, 101);
    EXPECT_EQ(dlg.m_height, 52);

    // A bit depth above 8 takes two bytes per value.
    child<QSpinBox>(&dlg, "bitdepthW")->setValue(12);
    EXPECT_EQ(dlg.m_bytesPerValue, 2);
    EXPECT_EQ(child<QComboBox>(&dlg, "bytePerValueW")->currentIndex(), 1);
}

TEST_F(YuvDialog, SemiPlanarNameIsKept)
{
    QFile* f = file(QStringLiteral("x_nv12_64x48.yuv"), Frames420(64, 48, 3, 16, 128, 128));
    YUVParametersDialog dlg(nullptr, f, 0, 0, 0, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{});
    EXPECT_EQ(dlg.m_format, YUVFile::FORMAT_SEMI_PLANAR);
    EXPECT_EQ(child<QComboBox>(&dlg, "planeOrderW")->currentIndex(), 1);
    EXPECT_EQ(dlg.m_frameCount, 3);
}

TEST_F(YuvDialog, CropRules)
{
    QFile* f = file(QStringLiteral("crop.yuv"), Frames420(64, 64, 1, 16, 128, 128));
    YUVParametersDialog dlg(nullptr, f, 64, 64, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{8, 16, 0, 0});
    auto* left = child<QSpinBox>(&dlg, "cropLeft");
    auto* width = child<QSpinBox>(&dlg, "cropWidth");
    // The kept width stays while the left margin moves to the step in the direction of the edit.
    Finish(left, 10);
    EXPECT_EQ(dlg.m_crop.left, 16);
    EXPECT_EQ(dlg.m_crop.right, 8);
    EXPECT_EQ(width->value(), 40);
    dlg.m_crop = CropInfo{8, 16, 0, 0};
    Finish(left, 6);
    EXPECT_EQ(dlg.m_crop.left, 0);
    EXPECT_EQ(dlg.m_crop.right, 24);

    // The kept width never falls below 16.
    dlg.m_crop = CropInfo{39, 0, 0, 0};
    Finish(width, 16);
    EXPECT_EQ(dlg.m_crop.right, 16);
    EXPECT_EQ(dlg.m_crop.left, 32);
    EXPECT_EQ(64 - dlg.m_crop.left - dlg.m_crop.right, 16);
    Finish(left, 60);
    EXPECT_GE(64 - dlg.m_crop.left - dlg.m_crop.right, 16);

    // Vertically the same with the vertical step.
    dlg.m_crop = CropInfo{0, 0, 8, 16};
    Finish(child<QSpinBox>(&dlg, "cropTop"), 10);
    EXPECT_EQ(dlg.m_crop.top, 16);
    EXPECT_EQ(dlg.m_crop.bottom, 8);
    Finish(child<QSpinBox>(&dlg, "cropHeight"), 20);
    EXPECT_EQ(dlg.m_crop.bottom, 32);
    EXPECT_EQ(dlg.m_crop.top, 16);

    struct Round
    {
        int value, step;
        YUVParametersDialog::RoundMode mode;
        int want;
    } const rounds[] = {
        {10, 8, YUVParametersDialog::ROUND_UP, 16},  {10, 8, YUVParametersDialog::ROUND_DOWN, 8},
        {10, 8, YUVParametersDialog::ROUND_NEAREST, 16}, {9, 8, YUVParametersDialog::ROUND_NEAREST, 16},
        {16, 8, YUVParametersDialog::ROUND_DOWN, 16}, {7, 1, YUVParametersDialog::ROUND_UP, 7},
        {7, 0, YUVParametersDialog::ROUND_DOWN, 7},
    };
    for (Round const& r : rounds)
        EXPECT_EQ(dlg.roundToCropStep(r.value, r.step, r.mode), r.want) << r.value << " step " << r.step;
}

TEST_F(YuvDialog, ChromaFormatChangeRaisesMarginsToItsStep)
{
    QByteArray const frame = QByteArray(64 * 64 * 3, char(16));
    QFile* f = file(QStringLiteral("crop444.yuv"), frame);
    YUVParametersDialog dlg(nullptr, f, 64, 64, 8, ImageInfo::IMG_444, YUVFile::FORMAT_PLANAR, CropInfo{4, 0, 4, 0});
    EXPECT_EQ(dlg.m_cropStepH, 4);
    QMetaObject::invokeMethod(child<QComboBox>(&dlg, "colorSpaceW"), "activated", Q_ARG(int, 1));
    EXPECT_EQ(dlg.m_cropStepH, 8);
    EXPECT_EQ(dlg.m_crop.left, 8);
    EXPECT_EQ(dlg.m_crop.top, 8);
    EXPECT_EQ(child<QSpinBox>(&dlg, "cropLeft")->value(), 8);
}

TEST_F(YuvDialog, PreviewColoursCropAndChromaOrder)
{
    // Y 235, U 128, V 240: red clipped to 255, green 183, blue 235.
    QByteArray const data = Frames420(64, 48, 2, char(235), char(128), char(240));
    QFile* f = file(QStringLiteral("colour.yuv"), data);
    YUVParametersDialog dlg(nullptr, f, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{16, 0, 0, 0});
    QColor const c = PreviewAt(dlg, 0.6, 0.5);
    EXPECT_EQ(c.red(), 255);
    EXPECT_EQ(c.green(), 183);
    EXPECT_EQ(c.blue(), 235);
    // The cut-away band is darkened.
    QColor const band = PreviewAt(dlg, 0.05, 0.5);
    EXPECT_LT(band.green(), 60);

    // VU swaps the chroma planes of the preview only.
    QMetaObject::invokeMethod(child<QComboBox>(&dlg, "chromaOrderW"), "activated", Q_ARG(int, 1));
    QColor const swapped = PreviewAt(dlg, 0.6, 0.5);
    EXPECT_EQ(swapped.red(), 235);
    EXPECT_EQ(swapped.green(), 214);
    EXPECT_EQ(swapped.blue(), 255);
    EXPECT_EQ(dlg.m_format, YUVFile::FORMAT_PLANAR);

    // A frame beyond the end leaves the preview as it was.
    child<QSlider>(&dlg, "frameSlider")->setValue(1);
    dlg.loadFrame(5);
    EXPECT_EQ(PreviewAt(dlg, 0.6, 0.5), swapped);

    // A pair without preset has frame size 0: no count, no preview, no division by zero.
    dlg.m_format = YUVFile::FORMAT_Y416;
    dlg.updateFrameSize();
    EXPECT_EQ(dlg.m_frameSize, 0);
    EXPECT_EQ(dlg.m_frameCount, 0);
    dlg.loadFrame(0);
    EXPECT_TRUE(child<QLabel>(&dlg, "viewWidget")->pixmap(Qt::ReturnByValue).isNull());
}
