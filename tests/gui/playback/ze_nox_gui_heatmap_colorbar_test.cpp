// The heat-map legend, offscreen: its size rules, the 64 colour bands of the frame heat map and
// the "0" / "max" labels under the strip.
#include "playback/ze_nox_gui_heatmap_colorbar.h"

#include "display/frame.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using ze::nox::gui::ZeNoxGuiHeatmapColorbar;

QLabel* LabelWithText(QWidget const& bar, QString const& text)
{
    for (QLabel* label : bar.findChildren<QLabel*>())
        if (label->text() == text)
            return label;
    return nullptr;
}

QRgb TableColour(int index)
{
    uint8_t const* c = ze::nox::core::heatMapGradient[index];
    return qRgb(c[0], c[1], c[2]);
}

TEST(HeatmapColorbar, StartsHiddenAndSizedByItsFont)
{
    for (int pointSize : {8, 14, 30}) {
        SCOPED_TRACE(pointSize);
        QWidget parent;
        QFont font = parent.font();
        font.setPointSize(pointSize);
        parent.setFont(font);

        ZeNoxGuiHeatmapColorbar bar(&parent);
        EXPECT_TRUE(bar.isHidden());
        int const fontHeight = QFontMetrics(bar.font()).height();
        EXPECT_EQ(bar.minimumSize(), bar.maximumSize()); // fixed size
        EXPECT_EQ(bar.width(), 252);
        EXPECT_EQ(bar.height(), fontHeight + 20);
    }
    // A bigger font makes a taller bar, never a wider one.
    QWidget small, large;
    QFont f = small.font();
    f.setPointSize(8);
    small.setFont(f);
    f.setPointSize(30);
    large.setFont(f);
    ZeNoxGuiHeatmapColorbar a(&small), b(&large);
    EXPECT_LT(a.height(), b.height());
    EXPECT_EQ(a.width(), b.width());
}

class HeatmapColorbarImage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_bar.show();
        m_image = m_bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(m_image.width(), 252);
        ASSERT_EQ(m_image.height(), m_bar.height());
    }

    ZeNoxGuiHeatmapColorbar m_bar;
    QImage m_image;
};

TEST_F(HeatmapColorbarImage, StripShowsEveryTableColourInItsOwnBand)
{
    double const band = 252.0 / 64;
    for (int i = 0; i < 64; ++i) {
        SCOPED_TRACE(i);
        // The middle of the band, and the columns just inside both of its edges.
        int const first = int(std::ceil(i * band + 0.5));
        int const last = int(std::floor((i + 1) * band - 1.5));
        for (int x : {first, int((i + 0.5) * band), last})
            for (int y : {0, 10, 19})
                EXPECT_EQ(m_image.pixel(x, y), TableColour(i)) << "x " << x << " y " << y;
    }
    EXPECT_EQ(m_image.pixel(0, 10), qRgb(255, 255, 255));
    EXPECT_EQ(m_image.pixel(251, 10), qRgb(0, 0, 0));
}

TEST_F(HeatmapColorbarImage, StripHasExactlyTheTableBandsInOrder)
{
    // Walking along the strip, the colour changes 63 times and only from one table entry to the
    // next; every column matches an entry.
    int index = 0;
    int changes = 0;
    for (int x = 0; x < 252; ++x) {
        const QRgb colour = m_image.pixel(x, 10);
        if (colour == TableColour(index))
            continue;
        ASSERT_LT(index, 63) << "x " << x;
        ASSERT_EQ(colour, TableColour(index + 1)) << "x " << x;
        ++index;
        ++changes;
    }
    EXPECT_EQ(index, 63);
    EXPECT_EQ(changes, 63);
}

TEST_F(HeatmapColorbarImage, LabelsSitUnderTheStripAtItsEnds)
{
    QLabel* zero = LabelWithText(m_bar, QStringLiteral("0"));
    QLabel* max = LabelWithText(m_bar, QStringLiteral("127"));
    ASSERT_NE(zero, nullptr);
    ASSERT_NE(max, nullptr);
    int const fontHeight = QFontMetrics(m_bar.font()).height();
    for (QLabel* label : {zero, max}) {
        EXPECT_TRUE(label->isVisible());
        EXPECT_EQ(label->geometry().top(), 20);
        EXPECT_EQ(label->height(), fontHeight);
    }
    EXPECT_EQ(zero->geometry().left(), 0);
    EXPECT_EQ(max->geometry().right(), 251);
    EXPECT_LT(zero->geometry().right(), max->geometry().left());

    // The label row is not painted with the gradient.
    EXPECT_NE(m_image.pixel(251, 20 + fontHeight / 2), qRgb(0, 0, 0));

    // The scale follows the maximum, at the strip's black end, and the bar does not announce it.
    QSignalSpy spy(&m_bar, &ZeNoxGuiHeatmapColorbar::maximumChanged);
    for (int maximum : {1, 30, 1023}) {
        m_bar.setMaximum(maximum);
        QCoreApplication::processEvents();
        EXPECT_EQ(m_bar.maximum(), maximum);
        EXPECT_EQ(max->text(), QString::number(maximum));
        EXPECT_EQ(max->geometry().right(), 251) << maximum;
        EXPECT_LT(zero->geometry().right(), max->geometry().left());
    }
    EXPECT_EQ(spy.count(), 0);
}

} // namespace
