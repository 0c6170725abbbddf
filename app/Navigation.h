#pragma once
// Ways around a file in the main window, added around the dialog's own
// controls: the go-to-offset and find bars with their keys (Ctrl+G, Ctrl+F,
// F3), Reload (F5), the context menus of the tree, the property list and the hex view with
// the copy actions, files dropped on the window, the resizable layout, the
// hex view's status line, the window title naming the open file, Enter on a
// tree item (expands or collapses it), and a state file for scripts
// (QUILLON_STATE_FILE: after each selection and caret move it holds a line
// "GGGG,EEEE FIRST LAST" with the selected element's tag and byte range in
// decimal, or "root", then "caret=OFFSET" and "visible=FIRST-LAST", the
// first and last byte in view, each "none" when there is none).
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QUrl>

#include "app/WindowLayout.h"

class QMenu;

namespace quillon {

class CQuillonDlg;
class FindBar;
class GoToOffsetBar;
class HexStatusLine;
class SplitterHandle;

class Navigation : public QObject {
    Q_OBJECT

public:
    explicit Navigation(CQuillonDlg& dialog);

    GoToOffsetBar* GoToBar() const { return m_goTo; }
    quillon::FindBar* FindBar() const { return m_find; }

    void OpenGoTo();
    void OpenFind();
    // F3: the next match of the find bar's text; opens the bar when it has none.
    void FindNext();

    // The items of the context menus; `element` adds the copy actions for the
    // selected element.
    void FillMenu(QMenu& menu, bool element);
    // The last message of a copy action ("No element is selected", the 16 MiB cut).
    QString LastMessage() const { return m_lastMessage; }

    // Opens the first local file among dropped URLs; false when there is none.
    bool OpenDropped(const QList<QUrl>& urls);

    // See CQuillonDlg::AllowResizing.
    void AllowResizing(const QRect& available);
    const WindowLayout& Layout() const { return m_layout; }
    HexStatusLine* StatusLine() const { return m_status; }
    SplitterHandle* TreeSplitter() const { return m_treeSplitter; }
    SplitterHandle* ListSplitter() const { return m_listSplitter; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowContextMenu(QWidget* widget, const QPoint& pos, bool element);
    void Report(const QString& message);
    void PlaceBars();
    void WriteState();
    void UpdateTitle();
    void DragSplit(bool tree, int start, int distance);
    void PlaceSplitters();
    void SetValueTip();
    void ToggleTreeItem();

    CQuillonDlg& m_dialog;
    GoToOffsetBar* m_goTo = nullptr;
    quillon::FindBar* m_find = nullptr;
    WindowLayout m_layout;
    QString m_lastMessage;
    QString m_stateFile;
    HexStatusLine* m_status = nullptr;
    SplitterHandle* m_treeSplitter = nullptr;
    SplitterHandle* m_listSplitter = nullptr;
    QPoint m_splitAtPress;
};

}  // namespace quillon
