#include "app/ze_nox_gui_splitter.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>

namespace ze::nox::gui {

ZeNoxGuiSplitter::ZeNoxGuiSplitter(QWidget* parent) : QSplitter(parent) {}

ZeNoxGuiSplitter::ZeNoxGuiSplitter(Qt::Orientation orientation, QWidget* parent) : QSplitter(orientation, parent) {}

QSplitterHandle* ZeNoxGuiSplitter::createHandle()
{
    return new SplitterHandle(orientation(), this);
}

SplitterHandle::SplitterHandle(Qt::Orientation orientation, QSplitter* parent) : QSplitterHandle(orientation, parent) {}

void SplitterHandle::paintEvent(QPaintEvent* event)
{
    int const w = width();
    int const h = height();
    // No stops given: the toolkit shades from black at the start to white at the end, here
    // across the handle's thickness.
    QLinearGradient gradient;
    if (orientation() == Qt::Horizontal) {
        gradient.setStart(0, h / 2);
        gradient.setFinalStop(w - 1, h / 2);
    } else {
        gradient.setStart(w / 2, 0);
        gradient.setFinalStop(w / 2, h - 1);
    }
    QPainter painter(this);
    painter.fillRect(event->rect(), QBrush(gradient));
}

} // namespace ze::nox::gui
