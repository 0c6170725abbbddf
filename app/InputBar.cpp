#include "app/InputBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace quillon {

InputBar::InputBar(const QString& prompt, const QString& name, QWidget* parent) : QFrame(parent) {
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

void InputBar::Place(const QRect& area) {
    const int height = sizeHint().height();
    setGeometry(area.x(), area.y() + area.height() - height, area.width(), height);
}

void InputBar::Open(const QRect& area) {
    Place(area);
    show();
    raise();
    m_edit->selectAll();
    m_edit->setFocus(Qt::ShortcutFocusReason);
}

void InputBar::Close() {
    const bool wasVisible = isVisible();
    m_message->clear();
    hide();
    if (wasVisible) emit Closed();
}

QString InputBar::Text() const { return m_edit->text(); }

void InputBar::ShowMessage(const QString& text) { m_message->setText(text); }

QString InputBar::Message() const { return m_message->text(); }

bool InputBar::eventFilter(QObject* watched, QEvent* event) {
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
