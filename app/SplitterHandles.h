#pragma once
// The window's two splitters: a handle in the gap between the tree and the
// controls right of it (dragged sideways it gives the tree more or less
// width, taken from or given to the property list and the hex view), and one
// in the gap between the property list and the hex view (dragged down it
// gives the list more height, taken from the hex view). The window's layout
// (WindowLayout) keeps the split and places the controls.
#include <QPoint>
#include <QWidget>

#include <functional>

namespace quillon {

class SplitterHandle : public QWidget {
    Q_OBJECT

public:
    // `moved` gets the drag's distance from where it started, along the
    // handle's axis (x for a vertical handle, y for a horizontal one).
    SplitterHandle(Qt::Orientation orientation, QWidget* parent, std::function<void(int start, int distance)> moved);
    Qt::Orientation Orientation() const { return m_orientation; }

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    Qt::Orientation m_orientation;
    std::function<void(int, int)> m_moved;
    bool m_dragging = false;
    QPoint m_pressAt;
};

}  // namespace quillon
