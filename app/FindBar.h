#pragma once
// Find (Ctrl+F, F3 for the next match): a tag ("0010,0010", "(0010,0010)",
// "00100010"), part of a description or part of a value's text. The next
// tree item after the selection in pre-order that matches is selected,
// going round past the end; "wrapped" and "not found" are told in the bar.
#include "app/InputBar.h"

namespace quillon {

class CQuillonDlg;

class FindBar : public InputBar {
    Q_OBJECT

public:
    explicit FindBar(CQuillonDlg& dialog);

    // Selects the next match of `text`; false when there is none.
    bool FindNext(const QString& text);

private:
    CQuillonDlg& m_dialog;
};

}  // namespace quillon
