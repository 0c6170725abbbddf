#include "app/MessageBox.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPushButton>

#include "app/QuillonResources.h"

namespace quillon {

namespace {

ErrorBoxHandler& Handler() {
    static ErrorBoxHandler handler;
    return handler;
}

ChoiceBoxHandler& Choice() {
    static ChoiceBoxHandler handler;
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

bool ShowErrorBoxWithChoice(QWidget* parent, const QString& text, const QString& choice) {
    const QString caption = QString::fromLatin1(kAppTitle);
    if (Choice()) return Choice()(parent, caption, text, choice);
    if (Handler()) {
        Handler()(parent, caption, text);
        return false;
    }
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
    QPushButton* chosen = box.addButton(choice, QMessageBox::AcceptRole);
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QApplication::restoreOverrideCursor();
    return box.clickedButton() == chosen;
}

ChoiceBoxHandler SetChoiceBoxHandler(ChoiceBoxHandler handler) {
    ChoiceBoxHandler previous = std::move(Choice());
    Choice() = std::move(handler);
    return previous;
}

ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler) {
    ErrorBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace quillon
