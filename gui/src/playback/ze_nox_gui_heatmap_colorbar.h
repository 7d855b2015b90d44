#pragma once

#include <QLinearGradient>
#include <QWidget>

class QLabel;

namespace ze::nox::gui {

// Legend of the difference heat map: a strip with the 64 heat-map colours in equal bands,
// white at the "0" end and black at the end of the maximum difference it maps, which the label
// under that end shows as a number. Built hidden; the main window shows it while differences
// are drawn as heat maps.
class ZeNoxGuiHeatmapColorbar : public QWidget
{
    Q_OBJECT

public:
    explicit ZeNoxGuiHeatmapColorbar(QWidget* parent = nullptr);

    // Hard bands of the heat-map colours across the strip's width.
    QLinearGradient createGradient() const;

    static constexpr int kDefaultMaximum = 127;
    int maximum() const { return m_maximum; }

public slots:
    // Shows the maximum the heat map maps (the difference drawn black). Does not emit
    // maximumChanged: the bar follows the maximum, it does not set it.
    void setMaximum(int maximum);

signals:
    // The difference mapped to the last colour. The bar itself has no control that changes it.
    void maximumChanged(int maximum);

private:
    QLabel* m_maxLabel = nullptr;
    int m_maximum = kDefaultMaximum;
};

} // namespace ze::nox::gui
