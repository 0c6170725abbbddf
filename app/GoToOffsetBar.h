#pragma once
// Go to offset (Ctrl+G): an offset in decimal, 0x hex or h-suffixed hex
// selects the outermost element that holds the byte, as a click on it would,
// and scrolls the hex view to it. The outcome is told in the bar, never in a
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
