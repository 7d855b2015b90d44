#pragma once

#include <QPoint>
#include <QTreeWidget>

class QContextMenuEvent;

namespace ze::nox::gui {

// The project panel's file list; hands context-menu requests to the panel.
class StreamListTreeWidget : public QTreeWidget
{
    Q_OBJECT
public:
    explicit StreamListTreeWidget(QWidget* parent = nullptr);

signals:
    // pos is global; item may be null.
    void contextMenuRequired(QPoint const& pos, QTreeWidgetItem* item);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

} // namespace ze::nox::gui
