#pragma once
// Find (Ctrl+F, F3 for the next match): a tag ("0010,0010", "(0010,0010)",
// "00100010"), part of a description or part of a value's text. The next
// tree item after the selection in pre-order that matches is selected,
// going round past the end; "wrapped" and "not found" are told in the bar.
// A byte pattern ("FE FF 00 E0": two or more blank-separated pairs of hex
// digits) is looked for in the bytes instead, forward from the byte after the
// hex view's caret (from the first byte without a caret), going round past
// the end: the match becomes the marked range, with the caret on its first
// byte, and its outermost element is selected. That search runs on a worker
// thread, so that a large file does not stop the window; a new search or a
// closed document ends the one before.
#include <QPointer>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

#include "app/InputBar.h"

namespace quillon {

class CQuillonDlg;
struct ByteFindResult;

class FindBar : public InputBar {
    Q_OBJECT

public:
    explicit FindBar(CQuillonDlg& dialog);
    ~FindBar() override;

    // Selects the next match of `text`; false when there is none. For a
    // byte pattern: true when the search started (the outcome arrives with
    // BytesSearched).
    bool FindNext(const QString& text);
    // A byte search is running.
    bool Searching() const { return m_thread != nullptr; }

signals:
    // A byte search ended: found or not (also when it was ended early).
    void BytesSearched(bool found);

private:
    void FindBytes(const std::vector<uint8_t>& pattern);
    void EndSearch();
    void ShowBytesFound(const ByteFindResult& result, std::size_t length);

    CQuillonDlg& m_dialog;
    QThread* m_thread = nullptr;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    quint64 m_searchCount = 0;  // searches started or ended, to know a late answer
};

}  // namespace quillon
