#include "project/stream_list_tree_widget.h"

#include <QContextMenuEvent>

namespace ze::nox::gui {

StreamListTreeWidget::StreamListTreeWidget(QWidget* parent) : QTreeWidget(parent) {}

void StreamListTreeWidget::contextMenuEvent(QContextMenuEvent* event)
{
    emit contextMenuRequired(event->globalPos(), itemAt(event->pos()));
}

} // namespace ze::nox::gui
