#include "metrics_panel/ze_nox_rd_curves_legend.h"

#include "metrics_panel/ze_qwt_plot.h"

#include <QScrollBar>

namespace ze::nox::gui {

ZeNoxRdCurvesLegend::ZeNoxRdCurvesLegend(ZeMetricsPlot* plot) : QwtLegend(plot), m_plot(plot)
{
    setMaxColumns(1);
    setFixedWidth(350);
    setFixedHeight(100);
    if (!m_plot)
        return;
    connect(m_plot, &QwtPlot::legendDataChanged, this, &ZeNoxRdCurvesLegend::onLegendDataChanged);
    connect(m_plot, &ZeMetricsPlot::resized, this, &ZeNoxRdCurvesLegend::onPlotResized);
    m_plot->updateLegend();
    // A chart that is already laid out sends no resize until it changes size again.
    onPlotResized();
}

ZeNoxRdCurvesLegend::~ZeNoxRdCurvesLegend() = default;

void ZeNoxRdCurvesLegend::onLegendDataChanged(QVariant const& itemInfo, QList<QwtLegendData> const& data)
{
    QwtLegend::updateLegend(itemInfo, data);
}

void ZeNoxRdCurvesLegend::onPlotResized()
{
    if (!m_plot)
        return;
    QWidget const* canvas = m_plot->canvas();
    int const h = verticalScrollBar() && verticalScrollBar()->isVisible() ? height() : sizeHint().height();
    setGeometry(canvas->width() - width(), canvas->height() - height() - 15, width(), h);
}

} // namespace ze::nox::gui
