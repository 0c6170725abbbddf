#include "app/InputBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace quillon {

CInputBar::CInputBar(const QString& prompt, const QString& name, QWidget* parent) : QFrame(parent) {
    setObjectName(name);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
    m_prompt = new QLabel(prompt, this);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(name + QStringLiteral("Edit"));
    m_message = new QLabel(this);
    m_message->setObjectName(name + QStringLiteral("Message"));
    m_message->setTextFormat(Qt::PlainText);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(6);
    row->addWidget(m_prompt);
    row->addWidget(m_edit, 1);
    row->addWidget(m_message, 1);
    m_edit->installEventFilter(this);
    hide();
}

void CInputBar::Place(const QRect& area) {
    const int height = sizeHint().height();
    setGeometry(area.x(), area.y() + area.height() - height, area.width(), height);
}

void CInputBar::Open(const QRect& area) {
    Place(area);
    show();
    raise();
    m_edit->selectAll();
    m_edit->setFocus(Qt::ShortcutFocusReason);
}

void CInputBar::Close() {
    const bool wasVisible = isVisible();
    m_message->clear();
    hide();
    if (wasVisible) emit Closed();
}

QString CInputBar::Text() const { return m_edit->text(); }

void CInputBar::ShowMessage(const QString& text) { m_message->setText(text); }

QString CInputBar::Message() const { return m_message->text(); }

bool CInputBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            m_message->clear();
            emit Submitted(m_edit->text());
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            Close();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace quillon
