#pragma once
// Go to offset (Ctrl+G): an offset in decimal, 0x hex or h-suffixed hex
// selects the outermost element that holds the byte, as a click on it would,
// puts the hex view's caret on the byte and scrolls it into view; the focus
// then goes to the hex view. The outcome is told in the bar, never in a
// message box.
#include "app/InputBar.h"

namespace quillon {

class CQuillonDlg;

class GoToOffsetBar : public InputBar {
    Q_OBJECT

public:
    explicit GoToOffsetBar(CQuillonDlg& dialog);

    // Goes to the offset in `text`. True when an element (or the root) was
    // selected; otherwise the bar says why not.
    bool Go(const QString& text);

private:
    CQuillonDlg& m_dialog;
};

}  // namespace quillon
