#pragma once
// The one way the application shows an error: a modal box with the error
// icon, an OK button and the application's title as caption. Tests install a
// handler that records the box instead of showing it.
#include <QString>

#include <functional>

class QWidget;

namespace quillon {

using ErrorBoxHandler = std::function<void(QWidget* parent, const QString& caption, const QString& text)>;

// Shows the box (or calls the installed handler) and returns when it is closed.
void ShowErrorBox(QWidget* parent, const QString& text);

// Installs a handler in place of the real box; an empty one restores the box.
// Returns the handler that was installed before.
ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler);

// The same box with a second button, `choice` beside OK; true when the user
// takes it. A choice handler, when installed, answers in its place; else an
// installed error box handler sees the box, and the answer is OK (false).
using ChoiceBoxHandler =
    std::function<bool(QWidget* parent, const QString& caption, const QString& text, const QString& choice)>;
bool ShowErrorBoxWithChoice(QWidget* parent, const QString& text, const QString& choice);
ChoiceBoxHandler SetChoiceBoxHandler(ChoiceBoxHandler handler);

// The wait cursor from construction to destruction (nests).
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace quillon
