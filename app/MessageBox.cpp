#include "app/MessageBox.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

#include "app/QuillonResources.h"

namespace quillon {

namespace {

ErrorBoxHandler& Handler() {
    static ErrorBoxHandler handler;
    return handler;
}

}  // namespace

void ShowErrorBox(QWidget* parent, const QString& text) {
    const QString caption = QString::fromLatin1(kAppTitle);
    if (Handler()) {
        Handler()(parent, caption, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    // The box has the normal pointer even while the wait cursor is up.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QApplication::restoreOverrideCursor();
}

ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler) {
    ErrorBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace quillon
