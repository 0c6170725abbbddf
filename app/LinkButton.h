#pragma once
// A borderless hyperlink-style button with a hand cursor that opens the
// address in its "url" property in the browser.
#include <QPushButton>
#include <QString>

namespace quillon {

class LinkButton : public QPushButton {
    Q_OBJECT

public:
    LinkButton(const QString& text, QWidget* parent);
};

}  // namespace quillon
