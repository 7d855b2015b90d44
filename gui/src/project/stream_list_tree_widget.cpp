#include "project/stream_list_tree_widget.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>

namespace ze::nox::gui {

StreamListTreeWidget::StreamListTreeWidget(QWidget* parent) : QTreeWidget(parent) {}

int StreamListTreeWidget::heightForRows(int rows) const
{
    // A row is as high as its role boxes and buttons; without rows, as a line of text.
    int const row = topLevelItemCount() > 0 ? std::max(sizeHintForRow(0), 1) : fontMetrics().height() + 4;
    // The many columns rarely fit across: room for the horizontal scroll bar is kept.
    return 2 * frameWidth() + header()->sizeHint().height() + rows * row + horizontalScrollBar()->sizeHint().height();
}

QSize StreamListTreeWidget::minimumSizeHint() const
{
    return QSize(QTreeWidget::minimumSizeHint().width(), heightForRows(kMinimumRows));
}

QSize StreamListTreeWidget::sizeHint() const
{
    return QSize(QTreeWidget::sizeHint().width(), heightForRows(kPreferredRows));
}

void StreamListTreeWidget::contextMenuEvent(QContextMenuEvent* event)
{
    emit contextMenuRequired(event->globalPos(), itemAt(event->pos()));
}

} // namespace ze::nox::gui
