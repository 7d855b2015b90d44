// The small Util helpers: names, sizes, hashes, raw bytes, PSNR, field arrangement and the
// binary-stream codec guess.
#include "raw/Util.h"
#include "test_support.h"

#include <QBuffer>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST(Util, NamesAndTexts)
{
    EXPECT_STREQ(Util::getCodecName(3), "AVC");
    EXPECT_STREQ(Util::getCodecName(9), "VVC");
    EXPECT_STREQ(Util::getCodecName(0), "Unknown");
    EXPECT_STREQ(Util::getContainerName(5 << 16), "ivf");
    EXPECT_STREQ(Util::getContainerName(5), "Unknown");
    EXPECT_EQ(Util::colorFormatString(4), QStringLiteral("4:4:0"));
    EXPECT_EQ(Util::colorFormatString(5), QStringLiteral("Unknown"));
    EXPECT_EQ(Util::getContrastColor(QColor(255, 255, 0)), QColor(Qt::black));
    EXPECT_EQ(Util::getContrastColor(QColor(0, 0, 200)), QColor(Qt::white));
    EXPECT_EQ(Util::hashString(QByteArray("\x01\xab\xff", 3)), QStringLiteral("01abff"));

    struct Size
    {
        long long bits;
        char const* text;
    } const sizes[] = {{8000, "1000b"},
                       {65535, "8191b"},
                       {65536, "8k"},
                       {8LL * 1024 * 1024, "1024k"},
                       {8LL * 1025 * 1024, "1M"},
                       {8LL * 1024 * 1024 * 1536, "1536M"}};
    for (Size const& s : sizes)
        EXPECT_EQ(Util::formSize(s.bits), QString::fromLatin1(s.text)) << s.bits;
}

TEST(Util, RawBytes)
{
    QByteArray bytes;
    for (int i = 0; i < 20000; ++i)
        bytes.append(static_cast<char>(i & 0xff));
    QBuffer buf(&bytes);
    EXPECT_TRUE(Util::getRawBytes(&buf, 0, 8).isEmpty()) << "closed device";
    ASSERT_TRUE(buf.open(QIODevice::ReadOnly));
    EXPECT_EQ(Util::getRawBytes(&buf, 11, 10), QStringLiteral("(3)01 02(4)"));
    EXPECT_EQ(Util::getRawBytes(&buf, 16, 0), QStringLiteral("(0)02(0)"));
    QString const longRange = Util::getRawBytes(&buf, 0, 8 * 12000);
    EXPECT_TRUE(longRange.contains(QStringLiteral("(... truncated) dd de df"))) << longRange.right(40).toStdString();
    QString const pastEnd = Util::getRawBytes(&buf, 8 * 19999, 16);
    EXPECT_TRUE(pastEnd.endsWith(QStringLiteral("IO error reading file"))) << pastEnd.toStdString();
}

TEST(Util, Psnr)
{
    ImageType<short> a, b;
    ASSERT_TRUE(a.allocate(8, 8, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME));
    ASSERT_TRUE(b.allocate(8, 8, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME));
    a.setZero();
    b.setZero();
    double psnr[3] = {0, 0, 0};
    Util::calculatePSNR(&a, &b, false, Util::COMPONENT_ALL, 8, 8, psnr);
    EXPECT_EQ(psnr[0], 100);
    EXPECT_EQ(psnr[2], 100);
    b.row(0, 3)[4] = 16; // one luma sample off by 16
    Util::calculatePSNR(&a, &b, false, Util::COMPONENT_Y, 8, 8, psnr);
    EXPECT_NEAR(psnr[0], 10 * std::log10(256.0 * 256.0 * 64 / 256.0), 1e-9);

    ImageType<short> other;
    ASSERT_TRUE(other.allocate(4, 8, 8, 8, ImageInfo::IMG_420, CropInfo{}, ImageInfo::FRAME));
    double untouched[3] = {-1, -1, -1};
    Util::calculatePSNR(&a, &other, false, Util::COMPONENT_ALL, 8, 8, untouched);
    EXPECT_EQ(untouched[0], -1) << "different sizes give nothing";
}

TEST(Util, FieldArrangements)
{
    for (int h : {5, 6}) {
        ImageType<short> pic;
        ASSERT_TRUE(pic.allocate(2, h, 8, 8, ImageInfo::IMG_400, CropInfo{}, ImageInfo::FRAME));
        for (int y = 0; y < h; ++y)
            pic.row(0, y)[0] = pic.row(0, y)[1] = static_cast<short>(y);
        auto rows = [&] {
            std::vector<int> r;
            for (int y = 0; y < h; ++y)
                r.push_back(pic.row(0, y)[1]);
            return r;
        };
        std::vector<int> const frame = rows();
        Util::convertToFormat(&pic, Util::PICTURE_FIELDS_TOP_FIRST);
        EXPECT_EQ(rows(), h == 5 ? (std::vector<int>{0, 2, 4, 1, 3}) : (std::vector<int>{0, 2, 4, 1, 3, 5}));
        EXPECT_EQ(pic.m_struct, ImageInfo::FIELDS_TOP_FIRST);
        Util::convertToFormat(&pic, Util::PICTURE_FIELDS_BOTTOM_FIRST); // not a pair it converts
        EXPECT_EQ(pic.m_struct, ImageInfo::FIELDS_TOP_FIRST);
        Util::convertToFormat(&pic, Util::PICTURE_FRAME);
        EXPECT_EQ(rows(), frame);
        Util::convertToFormat(&pic, Util::PICTURE_FIELDS_BOTTOM_FIRST);
        EXPECT_EQ(rows(), h == 5 ? (std::vector<int>{1, 3, 0, 2, 4}) : (std::vector<int>{1, 3, 5, 0, 2, 4}));
    }
}

TEST(Util, CodecOfABinaryStream)
{
    QByteArray avc = ReadAll(TestMediaPath(QStringLiteral("ff_avc8.h264")));
    ASSERT_FALSE(avc.isEmpty());
    EXPECT_EQ(Util::detectCodecInBinaryStream(reinterpret_cast<unsigned char*>(avc.data()), avc.size()), 3);

    unsigned char mpeg2[] = {0, 0,    1,    0xB3, 0x16, 0x00, 0,    0,    1, 0x00, 0x10, 0x20, 0,   0,
                             1, 0x01, 0x55, 0,    0,    1,    0x02, 0x66, 0, 0,    1,    0x03, 0x77};
    EXPECT_EQ(Util::detectCodecInBinaryStream(mpeg2, sizeof(mpeg2)), 4);
    unsigned char noise[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(Util::detectCodecInBinaryStream(noise, sizeof(noise)), 0);
    EXPECT_EQ(Util::detectCodecInBinaryStream(nullptr, 0), 0);
}
