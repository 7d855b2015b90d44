#pragma once

#include <QSplitter>
#include <QSplitterHandle>

namespace ze::nox::gui {

// Splitter whose handles are shaded from black to white across their thickness.
class ZeNoxGuiSplitter : public QSplitter
{
    Q_OBJECT

public:
    explicit ZeNoxGuiSplitter(QWidget* parent = nullptr);
    ZeNoxGuiSplitter(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    QSplitterHandle* createHandle() override;
};

class SplitterHandle : public QSplitterHandle
{
    Q_OBJECT

public:
    SplitterHandle(Qt::Orientation orientation, QSplitter* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ze::nox::gui
