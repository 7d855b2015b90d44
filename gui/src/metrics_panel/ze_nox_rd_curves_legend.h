#pragma once

#include <QList>
#include <QVariant>

#include <qwt_legend.h>
#include <qwt_legend_data.h>

namespace ze::nox::gui {

class ZeMetricsPlot;

// One-column legend of an RD chart, a child of the chart laid over the lower right corner of
// its canvas. It lists every legend item of the chart, whether or not the chart keeps a legend
// of its own.
class ZeNoxRdCurvesLegend : public QwtLegend
{
    Q_OBJECT

public:
    explicit ZeNoxRdCurvesLegend(ZeMetricsPlot* plot);
    ~ZeNoxRdCurvesLegend() override;

private slots:
    void onLegendDataChanged(QVariant const& itemInfo, QList<QwtLegendData> const& data);
    void onPlotResized();

private:
    ZeMetricsPlot* m_plot = nullptr;
};

} // namespace ze::nox::gui
