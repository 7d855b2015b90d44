// The painted splitter, offscreen: its handles are its own and are shaded from black to white
// across their thickness, whichever way the splitter divides.
#include "app/ze_nox_gui_splitter.h"

#include <QImage>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

using ze::nox::gui::SplitterHandle;
using ze::nox::gui::ZeNoxGuiSplitter;

TEST(Splitter, DefaultsAsTheToolkitSplitter)
{
    ZeNoxGuiSplitter plain;
    EXPECT_EQ(plain.orientation(), Qt::Horizontal);
    QWidget parent;
    ZeNoxGuiSplitter vertical(Qt::Vertical, &parent);
    EXPECT_EQ(vertical.orientation(), Qt::Vertical);
    EXPECT_EQ(vertical.parentWidget(), &parent);
}

TEST(Splitter, HandlesAreShadedBlackToWhiteAcrossTheirThickness)
{
    for (Qt::Orientation orientation : {Qt::Vertical, Qt::Horizontal}) {
        SCOPED_TRACE(orientation == Qt::Vertical ? "vertical" : "horizontal");
        ZeNoxGuiSplitter splitter(orientation);
        splitter.setHandleWidth(12);
        for (int i = 0; i < 3; ++i)
            splitter.addWidget(new QLabel(QStringLiteral("panel")));
        splitter.resize(300, 300);
        splitter.show();

        ASSERT_EQ(splitter.count(), 3);
        for (int h = 1; h < 3; ++h) {
            SCOPED_TRACE(h);
            auto* handle = dynamic_cast<SplitterHandle*>(splitter.handle(h));
            ASSERT_NE(handle, nullptr);
            EXPECT_EQ(handle->orientation(), orientation);

            const QImage image = handle->grab().toImage().convertToFormat(QImage::Format_RGB32);
            // A vertical splitter stacks its panels, so its handles are bars whose thickness is
            // their height; a horizontal one has upright handles.
            bool const acrossRows = orientation == Qt::Vertical;
            int const thickness = acrossRows ? image.height() : image.width();
            int const length = acrossRows ? image.width() : image.height();
            ASSERT_EQ(thickness, 12);
            ASSERT_GT(length, 100);

            auto at = [&](int across, int along) {
                return acrossRows ? image.pixel(along, across) : image.pixel(across, along);
            };
            int previous = -1;
            for (int t = 0; t < thickness; ++t) {
                const QRgb first = at(t, 0);
                EXPECT_EQ(qRed(first), qGreen(first));
                EXPECT_EQ(qRed(first), qBlue(first));
                // Same shade along the whole handle.
                for (int l : {length / 2, length - 1})
                    EXPECT_EQ(at(t, l), first) << "t " << t << " l " << l;
                EXPECT_GT(qRed(first), previous) << "t " << t;
                previous = qRed(first);
            }
            EXPECT_LT(qRed(at(0, 0)), 40);
            EXPECT_GT(qRed(at(thickness - 1, 0)), 230);
        }
    }
}

} // namespace
