#pragma once
// The status line under the hex view: the caret's offset (decimal and hex),
// the byte's value, the marked range's length and the innermost element that
// holds the byte; empty without a caret.
#include <QLabel>

namespace quillon {

class CQuillonDlg;

class HexStatusLine : public QLabel {
    Q_OBJECT

public:
    explicit HexStatusLine(CQuillonDlg& dialog);
    // The whole text (the label shows it cut to its width).
    QString FullText() const { return m_text; }
    void Refresh();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowCut();

    CQuillonDlg& m_dialog;
    QString m_text;
};

}  // namespace quillon
