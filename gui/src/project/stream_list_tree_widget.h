#pragma once

#include <QPoint>
#include <QTreeWidget>

class QContextMenuEvent;

namespace ze::nox::gui {

// The project panel's file list; hands context-menu requests to the panel. It is never shorter
// than its header and three rows (a reference and two encodes) and asks for five.
class StreamListTreeWidget : public QTreeWidget
{
    Q_OBJECT
public:
    static constexpr int kMinimumRows = 3;
    static constexpr int kPreferredRows = 5;

    explicit StreamListTreeWidget(QWidget* parent = nullptr);

    // Height of the header, `rows` rows and the horizontal scroll bar, with the frame.
    int heightForRows(int rows) const;
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

signals:
    // pos is global; item may be null.
    void contextMenuRequired(QPoint const& pos, QTreeWidgetItem* item);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

} // namespace ze::nox::gui
