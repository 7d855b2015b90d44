#include "playback/ze_nox_gui_heatmap_colorbar.h"

#include "display/frame.h"

#include <QBrush>
#include <QColor>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QVBoxLayout>

namespace ze::nox::gui {

namespace {

constexpr int kStripWidth = 252;
constexpr int kStripHeight = 20;
constexpr int kColourCount = 64;

QColor GradientColour(int index)
{
    uint8_t const* c = core::heatMapGradient[index];
    return QColor(c[0], c[1], c[2]);
}

} // namespace

ZeNoxGuiHeatmapColorbar::ZeNoxGuiHeatmapColorbar(QWidget* parent) : QWidget(parent)
{
    auto* strip = new QWidget(this);
    strip->setFixedSize(kStripWidth, kStripHeight);
    QPalette palette = strip->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(createGradient()));
    strip->setPalette(palette);
    strip->setAutoFillBackground(true);

    int const fontHeight = QFontMetrics(font()).height();
    setFixedSize(kStripWidth, fontHeight + kStripHeight);

    auto* zeroLabel = new QLabel(QStringLiteral("0"), this);
    zeroLabel->setFixedHeight(fontHeight);
    m_maxLabel = new QLabel(this);
    m_maxLabel->setObjectName(QStringLiteral("maxLabel"));
    m_maxLabel->setFixedHeight(fontHeight);
    setMaximum(kDefaultMaximum);

    auto* labels = new QHBoxLayout;
    labels->setContentsMargins(0, 0, 0, 0);
    labels->setSpacing(0);
    labels->addWidget(zeroLabel, 0, Qt::AlignLeft);
    labels->addStretch();
    labels->addWidget(m_maxLabel, 0, Qt::AlignRight);

    auto* column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(strip);
    column->addLayout(labels);
    setLayout(column);

    hide();
}

void ZeNoxGuiHeatmapColorbar::setMaximum(int maximum)
{
    m_maximum = maximum;
    m_maxLabel->setText(QString::number(maximum));
}

QLinearGradient ZeNoxGuiHeatmapColorbar::createGradient() const
{
    QLinearGradient gradient(0, 0, kStripWidth, 0);
    // Each colour holds from its band's start to just before the next band, so the strip shows
    // hard bands instead of blends.
    for (int i = 0; i < kColourCount - 1; ++i) {
        const QColor colour = GradientColour(i);
        gradient.setColorAt(double(i) / kColourCount, colour);
        gradient.setColorAt(double(i + 1) / kColourCount - 0.0001, colour);
    }
    const QColor last = GradientColour(kColourCount - 1);
    gradient.setColorAt(double(kColourCount - 1) / kColourCount, last);
    gradient.setColorAt(1.0, last);
    return gradient;
}

} // namespace ze::nox::gui
