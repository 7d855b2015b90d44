// The raw-parameters dialog, offscreen: values it starts from, handlers, crop rules, frame
// counts and the preview.
#include "dialogs/yuv_parameters_dlg.h"

#include "display/frame.h"
#include "test_support.h"
#include "decoders/ze_yuv_decoder.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

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
    // The size comes from the name, and "p010" is semi-planar 10-bit at two bytes per value.
    EXPECT_EQ(dlg.m_width, 1920);
    EXPECT_EQ(dlg.m_height, 1080);
    EXPECT_EQ(dlg.m_colorFormat, ImageInfo::IMG_420);
    EXPECT_EQ(dlg.m_format, YUVFile::FORMAT_SEMI_PLANAR);
    EXPECT_EQ(dlg.m_bitDepth, 10);
    EXPECT_EQ(dlg.m_bytesPerValue, 2);
    EXPECT_EQ(dlg.m_frameSize, frame);
    EXPECT_EQ(dlg.m_frameCount, 2);
    EXPECT_EQ(child<QSpinBox>(&dlg, "widthLabel")->value(), 1920);
    EXPECT_EQ(child<QSpinBox>(&dlg, "heightLabel")->value(), 1080);
    EXPECT_EQ(child<QSpinBox>(&dlg, "bitdepthW")->value(), 10);
    EXPECT_EQ(child<QComboBox>(&dlg, "planeOrderW")->currentText(), QStringLiteral("Semi-planar"));
    EXPECT_EQ(child<QComboBox>(&dlg, "bytePerValueW")->currentIndex(), 1);
    EXPECT_EQ(child<QLabel>(&dlg, "framesLabel")->text(), QStringLiteral("<b>2 frames</b>"));
    EXPECT_EQ(child<QSlider>(&dlg, "frameSlider")->maximum(), 1);
    // The preview is scaled into the 640 x 480 view keeping the aspect ratio.
    EXPECT_EQ(child<QLabel>(&dlg, "viewWidget")->pixmap(Qt::ReturnByValue).size(), QSize(640, 360));

    // Planar 8-bit halves the frame: four frames.
    QMetaObject::invokeMethod(child<QComboBox>(&dlg, "planeOrderW"), "activated", Q_ARG(int, 0));
    EXPECT_EQ(dlg.m_bitDepth, 8);
    EXPECT_EQ(dlg.m_frameCount, 4);
    // Back to semi-planar 10-bit.
    QMetaObject::invokeMethod(child<QComboBox>(&dlg, "planeOrderW"), "activated", Q_ARG(int, 1));
    child<QSpinBox>(&dlg, "bitdepthW")->setValue(10);
    EXPECT_EQ(dlg.m_bytesPerValue, 2);
    EXPECT_EQ(dlg.m_frameSize, frame);
    EXPECT_EQ(dlg.m_frameCount, 2);

    QTimer::singleShot(0, &dlg,
                       [&] { child<QDialogButtonBox>(&dlg, "buttonBox")->button(QDialogButtonBox::Ok)->click(); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_width, 1920);
    EXPECT_EQ(dlg.m_height, 1080);
    EXPECT_EQ(dlg.m_colorFormat, ImageInfo::IMG_420);
    EXPECT_EQ(dlg.m_format, YUVFile::FORMAT_SEMI_PLANAR);
    EXPECT_EQ(dlg.m_bitDepth, 10);
    EXPECT_EQ(dlg.m_frameSize, frame);
}

// A sample format stated in the name reaches the dialog's controls: planar 10-bit from
// "_10bit" and from "yuv420p10le", 4:4:4 from "yuv444p"; without one the dialog starts at 8 bits.
TEST_F(YuvDialog, TheNamesSampleFormatReachesTheDialog)
{
    struct Case
    {
        char const* name;
        int colorSpace;
        int bitDepth;
    } const cases[] = {
        {"clip_352x288_10bit.yuv", ImageInfo::IMG_420, 10},
        {"clip_352x288_yuv420p10le.yuv", ImageInfo::IMG_420, 10},
        {"clip_352x288_yuv444p.yuv", ImageInfo::IMG_444, 8},
        {"clip_352x288.yuv", ImageInfo::IMG_420, 8},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        QFile* f = file(QString::fromLatin1(c.name), QByteArray(2 * 352 * 288 * 3, '\0'));
        YUVParametersDialog dlg(nullptr, f, 0, 0, 0, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{});
        EXPECT_EQ(child<QComboBox>(&dlg, "colorSpaceW")->currentIndex(), c.colorSpace);
        EXPECT_EQ(child<QComboBox>(&dlg, "planeOrderW")->currentText(), QStringLiteral("Planar"));
        EXPECT_EQ(child<QSpinBox>(&dlg, "bitdepthW")->value(), c.bitDepth);
        EXPECT_EQ(child<QComboBox>(&dlg, "bytePerValueW")->currentIndex(), c.bitDepth > 8 ? 1 : 0);
        EXPECT_EQ(dlg.m_bitDepth, c.bitDepth);
    }
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
        QTimer::singleShot(
            0, &dlg, [&] { child<QDialogButtonBox>(&dlg, "buttonBox")->button(QDialogButtonBox::Cancel)->click(); });
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

    // A typed size above the sliders' range keeps its value, odd too; the chroma planes of an
    // odd side are rounded up.
    Finish(child<QSpinBox>(&dlg, "widthLabel"), 5001);
    EXPECT_EQ(dlg.m_width, 5001);
    EXPECT_EQ(child<QSlider>(&dlg, "widthSlider")->value(), 4096);
    EXPECT_EQ(dlg.m_frameSize, int64_t(5001) * 288 + 2 * 2501 * 144);

    // Odd sizes survive every chroma format, each with its own rounded-up chroma planes.
    auto* format = child<QComboBox>(&dlg, "colorSpaceW");
    Finish(child<QSpinBox>(&dlg, "widthLabel"), 101);
    Finish(child<QSpinBox>(&dlg, "heightLabel"), 51);
    struct Odd
    {
        int type;
        int64_t frameSize;
    } const odds[] = {
        {1, 101 * 51 + 2 * 51 * 26},
        {2, 101 * 51 + 2 * 51 * 51},
        {3, 3 * 101 * 51},
        {4, 101 * 51 + 2 * 101 * 26},
    };
    for (Odd const& o : odds) {
        QMetaObject::invokeMethod(format, "activated", Q_ARG(int, o.type));
        EXPECT_EQ(dlg.m_width, 101) << o.type;
        EXPECT_EQ(dlg.m_height, 51) << o.type;
        EXPECT_EQ(dlg.m_frameSize, o.frameSize) << o.type;
    }

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
        {10, 8, YUVParametersDialog::ROUND_UP, 16},      {10, 8, YUVParametersDialog::ROUND_DOWN, 8},
        {10, 8, YUVParametersDialog::ROUND_NEAREST, 16}, {9, 8, YUVParametersDialog::ROUND_NEAREST, 16},
        {16, 8, YUVParametersDialog::ROUND_DOWN, 16},    {7, 1, YUVParametersDialog::ROUND_UP, 7},
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

// Each layout described in the dialog: its preview of frame 0 and the decoder's frame 0 read
// with the dialog's answers are both ffmpeg's planar reading of the same bytes.
TEST_F(YuvDialog, PreviewAndDecoderShowTheSamePicture)
{
    using namespace ze::nox::core;
    struct Case
    {
        char const* clip;
        int width, height;
        int layout; // Plane Order entry
        int chromaOrder;
        int bitDepth;
    } const cases[] = {
        {"rd_yuv420p.yuv", 176, 144, 0, 0, 8}, {"rd_yuv420p10le.yuv", 176, 144, 0, 0, 10},
        {"rd_nv12.yuv", 176, 144, 1, 0, 8},    {"rd_nv21.yuv", 176, 144, 1, 1, 8},
        {"rd_p010le.yuv", 176, 144, 1, 0, 10}, {"rd_yv12.yuv", 176, 144, 0, 1, 8},
        {"rd_odd.yuv", 175, 143, 0, 0, 8},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.clip);
        QString const path = TestMediaPath(QString::fromLatin1(c.clip));
        QFile in(path);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QFile refFile(path + QStringLiteral(".ref"));
        ASSERT_TRUE(refFile.open(QIODevice::ReadOnly));
        QByteArray const ref = refFile.readAll();

        // Described as a user would: size, chroma format, layout, bit depth, chroma order.
        YUVParametersDialog dlg(nullptr, &in, 0, 0, 0, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{});
        Finish(child<QSpinBox>(&dlg, "widthLabel"), c.width);
        Finish(child<QSpinBox>(&dlg, "heightLabel"), c.height);
        QMetaObject::invokeMethod(child<QComboBox>(&dlg, "colorSpaceW"), "activated", Q_ARG(int, 1));
        child<QComboBox>(&dlg, "planeOrderW")->setCurrentIndex(c.layout);
        QMetaObject::invokeMethod(child<QComboBox>(&dlg, "planeOrderW"), "activated", Q_ARG(int, c.layout));
        child<QSpinBox>(&dlg, "bitdepthW")->setValue(c.bitDepth);
        child<QComboBox>(&dlg, "chromaOrderW")->setCurrentIndex(c.chromaOrder);
        QMetaObject::invokeMethod(child<QComboBox>(&dlg, "chromaOrderW"), "activated", Q_ARG(int, c.chromaOrder));
        ASSERT_EQ(dlg.m_frameCount, 3);
        ASSERT_EQ(dlg.m_frameSize * 3, in.size());
        QPushButton* ok = child<QDialogButtonBox>(&dlg, "buttonBox")->button(QDialogButtonBox::Ok);
        ASSERT_TRUE(ok->isEnabled()) << ok->toolTip().toStdString();
        QTimer::singleShot(0, ok, &QPushButton::click);
        ASSERT_EQ(dlg.exec(), QDialog::Accepted);

        ZeYuvDecoder dec;
        dec.setRequiredYuvParams(dlg.m_width, dlg.m_height, dlg.m_bitDepth, dlg.m_colorFormat, dlg.m_format,
                                 static_cast<int>(dlg.m_frameSize), dlg.m_crop, dlg.m_chromaOrder);
        ASSERT_EQ(dec.openFile(path, nullptr), ZE_NOX_CORE_OK);
        Frame frame;
        ASSERT_EQ(dec.getFrame(0, frame), ZE_NOX_CORE_OK);
        AVFrame const* f = frame.avFrame();
        bool const semi = c.layout == 1;
        bool const words = c.bitDepth > 8;

        int const cw = (c.width + 1) / 2;
        int const ch = (c.height + 1) / 2;
        int const bps = words ? 2 : 1;
        ASSERT_EQ(ref.size(), 3 * int64_t(c.width * c.height + 2 * cw * ch) * bps); // three frames
        auto refAt = [&](int plane, int x, int y) {
            int64_t const base = plane == 0 ? 0 : int64_t(c.width) * c.height + int64_t(plane - 1) * cw * ch;
            int64_t const i = (base + int64_t(y) * (plane == 0 ? c.width : cw) + x) * bps;
            auto const* d = reinterpret_cast<uint8_t const*>(ref.constData());
            return words ? int(d[i] | (d[i + 1] << 8)) : int(d[i]);
        };
        // The decoder's sample: planar, or interleaved U, V; P010 words carry it in the upper bits.
        auto decAt = [&](int plane, int x, int y) {
            int const p = semi && plane > 0 ? 1 : plane;
            int const col = semi && plane > 0 ? 2 * x + (plane - 1) : x;
            uint8_t const* row = f->data[p] + int64_t(y) * f->linesize[p];
            int v = words ? reinterpret_cast<uint16_t const*>(row)[col] : row[col];
            return semi && words ? v >> 6 : v;
        };
        int previewDiffs = 0, decoderDiffs = 0;
        for (int plane = 0; plane < 3; ++plane) {
            int const pw = plane == 0 ? c.width : cw;
            int const ph = plane == 0 ? c.height : ch;
            ASSERT_EQ(dlg.m_image.m_planes[plane].width, pw);
            ASSERT_EQ(dlg.m_image.m_planes[plane].height, ph);
            for (int y = 0; y < ph; ++y)
                for (int x = 0; x < pw; ++x) {
                    int const want = refAt(plane, x, y);
                    previewDiffs += dlg.m_image.row(plane, y)[x] != want;
                    decoderDiffs += decAt(plane, x, y) != want;
                }
        }
        EXPECT_EQ(previewDiffs, 0);
        EXPECT_EQ(decoderDiffs, 0);
    }
}

// Choices the decoder has no pixel format for are disabled with the reason as a tooltip, and
// OK is disabled, the reason shown beside it, while the current combination has none.
TEST_F(YuvDialog, ChoicesWithoutPixelFormatAreDisabled)
{
    QFile* f = file(QStringLiteral("choices.yuv"), Frames420(64, 48, 2, 16, 128, 128));
    YUVParametersDialog dlg(nullptr, f, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{});
    auto item = [&](char const* box, int i) {
        return qobject_cast<QStandardItemModel*>(child<QComboBox>(&dlg, box)->model())->item(i);
    };
    QPushButton* ok = child<QDialogButtonBox>(&dlg, "buttonBox")->button(QDialogButtonBox::Ok);
    auto* problem = child<QLabel>(&dlg, "problemLabel");
    for (int t : {0, 4}) {
        EXPECT_FALSE(item("colorSpaceW", t)->isEnabled()) << t;
        EXPECT_FALSE(item("colorSpaceW", t)->toolTip().isEmpty()) << t;
    }
    for (int t : {1, 2, 3})
        EXPECT_TRUE(item("colorSpaceW", t)->isEnabled()) << t;
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_TRUE(problem->text().isEmpty());

    struct Step
    {
        char const* what;
        std::function<void()> apply;
        bool okEnabled;
    };
    auto activate = [&](char const* box, int i) {
        return [&dlg, box, i] {
            child<QComboBox>(&dlg, box)->setCurrentIndex(i);
            QMetaObject::invokeMethod(child<QComboBox>(&dlg, box), "activated", Q_ARG(int, i));
        };
    };
    std::vector<Step> const steps = {
        {"4:4:4 planar", activate("colorSpaceW", 3), true},
        {"4:4:4 semi-planar", activate("planeOrderW", 1), false},
        {"4:2:0 planar", activate("colorSpaceW", 1), true},
        {"12 bit", [&] { child<QSpinBox>(&dlg, "bitdepthW")->setValue(12); }, false},
        {"10 bit", [&] { child<QSpinBox>(&dlg, "bitdepthW")->setValue(10); }, true},
        {"10 bit in one byte", activate("bytePerValueW", 0), false},
        {"10 bit in two bytes", activate("bytePerValueW", 1), true},
        {"4:0:0", activate("colorSpaceW", 0), false},
        {"4:2:0 8 bit", activate("colorSpaceW", 1), true},
        {"a frame larger than the file", [&] { Finish(child<QSpinBox>(&dlg, "heightLabel"), 480); }, false},
    };
    for (Step const& s : steps) {
        SCOPED_TRACE(s.what);
        s.apply();
        EXPECT_EQ(ok->isEnabled(), s.okEnabled);
        EXPECT_EQ(problem->text().isEmpty(), s.okEnabled);
        EXPECT_EQ(ok->toolTip().isEmpty(), s.okEnabled);
        if (std::string(s.what) == "4:4:4 planar") {
            EXPECT_FALSE(item("planeOrderW", 1)->isEnabled());
            EXPECT_FALSE(item("planeOrderW", 1)->toolTip().isEmpty());
        }
        if (std::string(s.what) == "10 bit") {
            EXPECT_FALSE(item("bytePerValueW", 0)->isEnabled());
        }
    }
}

// The crop boxes show the kept size after a size change; margins that leave no picture, stored
// or after a size change, are dropped.
TEST_F(YuvDialog, CropFollowsTheSize)
{
    QFile* f = file(QStringLiteral("cropsize.yuv"), Frames420(64, 64, 1, 16, 128, 128));
    {
        YUVParametersDialog dlg(nullptr, f, 64, 64, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR,
                                CropInfo{0, 0, 8, 8});
        auto* height = child<QSpinBox>(&dlg, "cropHeight");
        EXPECT_EQ(height->value(), 48);
        Finish(child<QSpinBox>(&dlg, "heightLabel"), 40);
        EXPECT_EQ(height->value(), 24);
        EXPECT_EQ(dlg.m_crop.top, 8);
        EXPECT_EQ(dlg.m_crop.bottom, 8);
        Finish(child<QSpinBox>(&dlg, "heightLabel"), 16);
        EXPECT_EQ(dlg.m_crop.top, 0);
        EXPECT_EQ(dlg.m_crop.bottom, 0);
        EXPECT_EQ(height->value(), 16);
    }
    struct Stored
    {
        char const* what;
        CropInfo crop;
        CropInfo want;
    } const stored[] = {
        {"leaves a width of 0", {32, 32, 8, 0}, {0, 0, 0, 0}},
        {"leaves a height of 0", {8, 0, 40, 24}, {0, 0, 0, 0}},
        {"negative margin", {-8, 0, 8, 0}, {0, 0, 0, 0}},
        {"leaves a picture", {8, 16, 8, 8}, {8, 16, 8, 8}},
    };
    for (Stored const& s : stored) {
        SCOPED_TRACE(s.what);
        YUVParametersDialog dlg(nullptr, f, 64, 64, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, s.crop);
        EXPECT_EQ(dlg.m_crop.left, s.want.left);
        EXPECT_EQ(dlg.m_crop.right, s.want.right);
        EXPECT_EQ(dlg.m_crop.top, s.want.top);
        EXPECT_EQ(dlg.m_crop.bottom, s.want.bottom);
        EXPECT_EQ(child<QSpinBox>(&dlg, "cropWidth")->value(), 64 - s.want.left - s.want.right);
    }
}

// The whole dialog, buttons included, fits a 1366 x 768 screen with room for a title bar.
TEST_F(YuvDialog, FitsASmallScreen)
{
    QFile* f = file(QStringLiteral("screen.yuv"), Frames420(64, 48, 1, 16, 128, 128));
    YUVParametersDialog dlg(nullptr, f, 64, 48, 8, ImageInfo::IMG_420, YUVFile::FORMAT_PLANAR, CropInfo{});
    dlg.adjustSize();
    EXPECT_LE(dlg.width(), 1366);
    EXPECT_LE(dlg.height(), 768 - 60);
    QPushButton* ok = child<QDialogButtonBox>(&dlg, "buttonBox")->button(QDialogButtonBox::Ok);
    QPoint const corner = ok->mapTo(&dlg, QPoint(ok->width(), ok->height()));
    EXPECT_LE(corner.y(), dlg.height());
    EXPECT_LE(corner.x(), dlg.width());
}
