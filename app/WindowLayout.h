#pragma once
// The main window's controls on a window that is not at its designed size.
// The layout of template 102 is kept as the base; on a larger window the tree
// and the hex view take the extra height and the hex view the extra width,
// while the property list and the picture keep their place and the bottom row
// follows the bottom edge (Exit the bottom-right corner; the hex view's status
// line stays under it, as wide as it). On a smaller window
// the tree gives up the width first (the controls right of it move left),
// then the property list and the hex view together; the file row narrows,
// the picture moves left with the right edge, and the tree and the hex view
// give up the height, down to a minimum at which every control is usable.
#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

namespace quillon {

class CQuillonDlg;

class WindowLayout {
public:
    // Takes the current geometry of the dialog's controls as the base.
    void Capture(CQuillonDlg& dialog, const QList<QWidget*>& skip);
    bool Captured() const { return !m_items.isEmpty(); }
    QSize BaseSize() const { return m_base; }
    QSize MinimumSize() const;
    // Places the controls for a window of `size`.
    void Apply(const QSize& size) const;

    // The two splitters: `treeDx` pixels more (less) width for the tree, taken
    // from (given to) the property list and the hex view; `listDy` pixels
    // more height for the property list, taken from the hex view. Each is
    // kept within what leaves every control its minimum; the values kept are
    // returned by Split(). Apply places the controls with them.
    void SetSplit(int treeDx, int listDy, const QSize& size);
    QPoint Split() const { return QPoint(m_treeDx, m_listDy); }

private:
    enum Role { Fixed, Stretch, Tree, List, Picture, TopRight, TopWide, Combo, Bottom, BottomUnderTree, BottomRight, UnderHex };
    // What a window of a given size changes from the base: the extra
    // width and height (negative when smaller), the width taken away, how
    // much of it the tree gives and how much the property list and the hex
    // view give, and the hex view's change of width.
    struct Shares {
        int dx = 0, dy = 0, shrink = 0, fromTree = 0, fromRight = 0, hexWidth = 0;
    };
    Shares ShareOut(const QSize& size) const;

    struct Item {
        QPointer<QWidget> widget;
        QRect base;
        Role role = Fixed;
    };
    QList<Item> m_items;
    QSize m_base;
    int m_treeSpare = 0;
    int m_minDx = 0;
    int m_minDy = 0;
    int m_treeDx = 0;
    int m_listDy = 0;
    QRect m_baseTree, m_baseList, m_baseHex;
};

}  // namespace quillon
