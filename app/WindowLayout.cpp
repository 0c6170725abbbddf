#include "app/WindowLayout.h"

#include <QComboBox>
#include <QFrame>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeView>

#include <algorithm>

#include "app/CQuillonDlg.h"
#include "hexview/MCWndHexEditor.h"

namespace quillon {

namespace {

// The narrowest and lowest the shrinking controls may become.
constexpr int kMinTreeWidth = 180;
constexpr int kMinListWidth = 140;
constexpr int kMinComboWidth = 120;
constexpr int kMinHexWidth = 260;
constexpr int kMinHeight = 120;

}  // namespace

void WindowLayout::Capture(CQuillonDlg& dialog, const QList<QWidget*>& skip) {
    m_items.clear();
    m_base = dialog.size();
    const QRect tree = dialog.Tree()->geometry();
    const QRect hex = dialog.HexViewFrame()->geometry();
    const QRect list = dialog.PropertyList()->geometry();
    const QRect combo = dialog.RecentCombo()->geometry();
    for (QObject* child : dialog.children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow() || skip.contains(widget)) continue;
        Item item{widget, widget->geometry(), Fixed};
        if (widget == dialog.HexViewFrame() || widget == dialog.HexView()) {
            item.role = Stretch;
        } else if (widget == dialog.Tree()) {
            item.role = Tree;
        } else if (widget == dialog.PropertyList()) {
            item.role = List;
        } else if (widget == dialog.PictureButton()) {
            item.role = Picture;
        } else if (widget == dialog.OpenButton()) {
            item.role = TopRight;
        } else if (widget == dialog.RecentCombo()) {
            item.role = Combo;
        } else if (widget->objectName() == QLatin1String("hexStatusLine")) {
            item.role = UnderHex;
        } else if (item.base.top() > tree.bottom()) {
            if (item.base.left() > m_base.width() / 2)
                item.role = BottomRight;
            else
                item.role = item.base.right() >= tree.right() - 20 ? BottomUnderTree : Bottom;
        } else if (item.base.width() >= m_base.width() * 9 / 10) {
            item.role = TopWide;  // the frame around the file row
        }
        m_items.append(item);
    }
    m_baseTree = tree;
    m_baseList = list;
    m_baseHex = hex;
    m_treeDx = m_listDy = 0;
    m_treeSpare = std::max(0, tree.width() - kMinTreeWidth);
    const int rightSpare = std::max(0, std::min(list.width() - kMinListWidth, hex.width() - kMinHexWidth));
    m_minDx = -std::min(m_treeSpare + rightSpare, std::max(0, combo.width() - kMinComboWidth));
    m_minDy = -std::max(0, std::min(tree.height(), hex.height()) - kMinHeight);
}

void WindowLayout::SetSplit(int treeDx, int listDy, const QSize& size) {
    // The widths and heights the window's size gives before any split.
    const Shares s = ShareOut(size);
    const int treeWidth = m_baseTree.width() - s.fromTree;
    const int listWidth = m_baseList.width() - s.fromRight;
    const int hexWidth = m_baseHex.width() + s.hexWidth;
    const int hexHeight = m_baseHex.height() + s.dy;
    m_treeDx = std::clamp(treeDx, std::min(0, kMinTreeWidth - treeWidth),
                          std::max(0, std::min(listWidth - kMinListWidth, hexWidth - kMinHexWidth)));
    // The list grows down only: above the hex view's right part sits the picture.
    m_listDy = std::clamp(listDy, 0, std::max(0, hexHeight - kMinHeight));
}

QSize WindowLayout::MinimumSize() const { return m_base + QSize(m_minDx, m_minDy); }

WindowLayout::Shares WindowLayout::ShareOut(const QSize& size) const {
    Shares s;
    s.dx = std::max(size.width() - m_base.width(), m_minDx);
    s.dy = std::max(size.height() - m_base.height(), m_minDy);
    // A narrower window takes the width from the tree first, then from the
    // property list and the hex view together; a wider one gives it to the
    // hex view.
    s.shrink = std::max(0, -s.dx);
    s.fromTree = std::min(s.shrink, m_treeSpare);
    s.fromRight = s.shrink - s.fromTree;
    s.hexWidth = s.dx >= 0 ? s.dx : -s.fromRight;
    return s;
}

void WindowLayout::Apply(const QSize& size) const {
    const auto [dx, dy, shrink, fromTree, fromRight, hexWidth] = ShareOut(size);
    for (const Item& item : m_items) {
        if (!item.widget) continue;
        QRect r = item.base;
        switch (item.role) {
            case Fixed: break;
            case Stretch:
                r.translate(-fromTree + m_treeDx, 0);
                r.adjust(0, m_listDy, hexWidth - m_treeDx, dy);
                break;
            case Tree: r.adjust(0, 0, -fromTree + m_treeDx, dy); break;
            case List:
                r.translate(-fromTree + m_treeDx, 0);
                r.adjust(0, 0, -fromRight - m_treeDx, m_listDy);
                break;
            case Picture: r.translate(-shrink, 0); break;
            case TopRight: r.translate(-shrink, 0); break;
            case Combo: r.adjust(0, 0, -shrink, 0); break;
            case TopWide: r.adjust(0, 0, dx, 0); break;
            case Bottom: r.translate(0, dy); break;
            case BottomUnderTree:
                r.translate(0, dy);
                r.adjust(0, 0, -fromTree, 0);
                break;
            case BottomRight: r.translate(dx, dy); break;
            case UnderHex:
                r.translate(-fromTree + m_treeDx, dy);
                r.adjust(0, 0, hexWidth - m_treeDx, 0);
                break;
        }
        if (r != item.widget->geometry()) item.widget->setGeometry(r);
    }
}

}  // namespace quillon
