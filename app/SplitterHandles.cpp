#include "app/SplitterHandles.h"

#include <QMouseEvent>

namespace quillon {

SplitterHandle::SplitterHandle(Qt::Orientation orientation, QWidget* parent,
                               std::function<void(int, int)> moved)
    : QWidget(parent), m_orientation(orientation), m_moved(std::move(moved)) {
    setObjectName(orientation == Qt::Vertical ? QStringLiteral("treeSplitter") : QStringLiteral("listSplitter"));
    setCursor(orientation == Qt::Vertical ? Qt::SplitHCursor : Qt::SplitVCursor);
    setFocusPolicy(Qt::NoFocus);
}

void SplitterHandle::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        e->ignore();
        return;
    }
    m_dragging = true;
    m_pressAt = e->globalPosition().toPoint();
    if (m_moved) m_moved(0, 0);  // the drag starts from the split as it is
}

void SplitterHandle::mouseMoveEvent(QMouseEvent* e) {
    if (!m_dragging) return;
    const QPoint d = e->globalPosition().toPoint() - m_pressAt;
    if (m_moved) m_moved(1, m_orientation == Qt::Vertical ? d.x() : d.y());
}

void SplitterHandle::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) m_dragging = false;
}

}  // namespace quillon
