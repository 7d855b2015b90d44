#pragma once

#include "raw/YUVFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <cstdint>

// Geometry of a whole picture (fill area = all of it).
inline PicSize WholePicture(int width, int height, ImageInfo::IMG_TYPE type, int bitDepth = 8)
{
    PicSize g;
    g.width = width;
    g.height = height;
    g.lumaBitDepth = bitDepth;
    g.chromaBitDepth = bitDepth;
    g.type = type;
    return g;
}

inline QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

// Compares the picture's planes with planar samples (1 or 2 bytes, little endian) of a whole frame.
inline void ExpectPlanarSamples(ImageType<short> const& image, QByteArray const& ref, int width, int height,
                                ImageInfo::IMG_TYPE type, int bytesPerSample)
{
    int const cw = (type == ImageInfo::IMG_420 || type == ImageInfo::IMG_422) ? (width + 1) / 2 : width;
    int const ch = (type == ImageInfo::IMG_420 || type == ImageInfo::IMG_440) ? (height + 1) / 2 : height;
    auto const* r = reinterpret_cast<uint8_t const*>(ref.constData());
    int64_t i = 0;
    int const planes = type == ImageInfo::IMG_400 ? 1 : 3;
    for (int p = 0; p < planes; ++p) {
        int const w = p == 0 ? width : cw;
        int const h = p == 0 ? height : ch;
        ASSERT_EQ(image.m_planes[p].width, w);
        ASSERT_EQ(image.m_planes[p].height, h);
        int mismatches = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, i += bytesPerSample) {
                ASSERT_LE(i + bytesPerSample, ref.size());
                int const want = bytesPerSample == 1 ? r[i] : (r[i] | (r[i + 1] << 8));
                int const got = static_cast<uint16_t>(image.row(p, y)[x]);
                if (got != want && ++mismatches <= 3)
                    ADD_FAILURE() << "plane " << p << " (" << x << ", " << y << "): " << got << " != " << want;
            }
        EXPECT_EQ(mismatches, 0) << "plane " << p;
    }
    EXPECT_EQ(i, ref.size());
}
