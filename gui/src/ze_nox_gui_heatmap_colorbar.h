#pragma once

#include <QLinearGradient>
#include <QWidget>

namespace ze::nox::gui {

// Legend of the difference heat map: a strip with the 64 heat-map colours in equal bands,
// white at the "0" end and black at the "max" end. Built hidden; the main window shows it
// while differences are drawn as heat maps.
class ZeNoxGuiHeatmapColorbar : public QWidget
{
    Q_OBJECT

public:
    explicit ZeNoxGuiHeatmapColorbar(QWidget* parent = nullptr);

    // Hard bands of the heat-map colours across the strip's width.
    QLinearGradient createGradient() const;

signals:
    // The difference mapped to the last colour. The bar itself has no control that changes it.
    void maximumChanged(int maximum);
};

} // namespace ze::nox::gui
