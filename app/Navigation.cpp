#include "app/Navigation.h"

#include <QAction>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSaveFile>
#include <QShortcut>
#include <QTableWidget>
#include <QToolTip>
#include <QTreeView>

#include "app/CQuillonDlg.h"
#include "app/CopyActions.h"
#include "app/SaveActions.h"
#include "app/FindBar.h"
#include "app/GoToOffsetBar.h"
#include "app/ElementTreeModel.h"
#include "app/HexStatusLine.h"
#include "app/SplitterHandles.h"
#include "app/QuillonResources.h"
#include "document/ByteSearch.h"
#include "document/ElementSearch.h"
#include "hexview/MCWndHexEditor.h"

namespace quillon {

Navigation::Navigation(CQuillonDlg& dialog) : QObject(&dialog), m_dialog(dialog) {
    setObjectName(QStringLiteral("navigation"));
    m_goTo = new GoToOffsetBar(dialog);
    m_find = new quillon::FindBar(dialog);
    m_stateFile = qEnvironmentVariable("QUILLON_STATE_FILE");

    auto shortcut = [&dialog](const QKeySequence& keys, auto slot) {
        auto* s = new QShortcut(keys, &dialog);
        s->setContext(Qt::WindowShortcut);
        QObject::connect(s, &QShortcut::activated, &dialog, slot);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_G), [this] { OpenGoTo(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { OpenFind(); });
    shortcut(QKeySequence(Qt::Key_F3), [this] { FindNext(); });
    shortcut(QKeySequence(Qt::Key_F5), [this] { m_dialog.Reload(); });

    // Back to the hex view or the tree when a bar closes.
    for (InputBar* bar : {static_cast<InputBar*>(m_goTo), static_cast<InputBar*>(m_find)}) {
        connect(bar, &InputBar::Closed, this, [this] { m_dialog.Tree()->setFocus(Qt::OtherFocusReason); });
        connect(bar, &InputBar::Submitted, this, [this] { WriteState(); });
    }

    for (QWidget* w : {static_cast<QWidget*>(dialog.Tree()), static_cast<QWidget*>(dialog.PropertyList())}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        auto* view = static_cast<QAbstractScrollArea*>(w);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& pos) { ShowContextMenu(view->viewport(), pos, true); });
    }
    dialog.HexView()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(dialog.HexView(), &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ShowContextMenu(m_dialog.HexView(), pos, false); });

    if (!m_stateFile.isEmpty()) {
        connect(dialog.Tree()->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { WriteState(); });
        connect(dialog.HexView(), &MCWndHexEditor::CaretMoved, this, [this] { WriteState(); });
    }

    m_status = new HexStatusLine(dialog);
    m_treeSplitter = new SplitterHandle(Qt::Vertical, &dialog, [this](int start, int d) { DragSplit(true, start, d); });
    m_listSplitter = new SplitterHandle(Qt::Horizontal, &dialog, [this](int start, int d) { DragSplit(false, start, d); });
    PlaceSplitters();
    // Ctrl+C in the hex view copies its marked bytes as hex.
    auto* copy = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_C), dialog.HexView());
    copy->setContext(Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, [this] { Report(CopyRangeHex(m_dialog)); });
    // The value cell's tooltip shows the value that the cell shows only as a placeholder.
    connect(dialog.Tree()->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { SetValueTip(); });
    // The title names the open file; the tree is built anew for every open and close.
    connect(dialog.TreeModel(), &QAbstractItemModel::modelReset, this, [this] { UpdateTitle(); });
    // Enter on a tree item opens or closes it instead of reaching the dialog.
    dialog.Tree()->installEventFilter(this);

    dialog.setAcceptDrops(true);
    dialog.installEventFilter(this);
}

void Navigation::OpenGoTo() {
    m_find->Close();
    m_goTo->Open(m_dialog.HexViewFrame()->geometry());
}

void Navigation::OpenFind() {
    m_goTo->Close();
    m_find->Open(m_dialog.HexViewFrame()->geometry());
}

void Navigation::FindNext() {
    if (m_find->Text().trimmed().isEmpty()) {
        OpenFind();
        return;
    }
    if (!m_find->isVisible()) {
        m_goTo->Close();
        m_find->Place(m_dialog.HexViewFrame()->geometry());
        m_find->show();
        m_find->raise();
    }
    m_find->ShowMessage(QString());
    m_find->FindNext(m_find->Text());
    WriteState();
}

void Navigation::FillMenu(QMenu& menu, bool element) {
    if (element) {
        const bool selected = m_dialog.CurrentRecord().has_value();
        const struct {
            const char* text;
            QString (*copy)(CQuillonDlg&);
        } copies[] = {
            {"Copy &Value", CopyValueText},
            {"Copy &Bytes as Hex", CopyElementBytes},
            {"Copy &Tag Offset", CopyTagOffset},
            {"Copy Byte &Range", CopyByteRange},
        };
        for (const auto& c : copies) {
            QAction* action = menu.addAction(QString::fromLatin1(c.text));
            action->setEnabled(selected);
            auto copy = c.copy;
            connect(action, &QAction::triggered, this, [this, copy] { Report(copy(m_dialog)); });
        }
        menu.addSeparator();
        const bool frame = selected && HasSelectedFrame(m_dialog);
        menu.addAction(QStringLiteral("&Save Value As..."), this, [this] { AskSaveValue(m_dialog); })
            ->setEnabled(selected);
        menu.addAction(QStringLiteral("Save &Frame As..."), this, [this] { AskSaveFrame(m_dialog); })
            ->setEnabled(frame);
        menu.addAction(QStringLiteral("Save &Picture As..."), this, [this] { AskSavePicture(m_dialog); })
            ->setEnabled(frame);
        menu.addSeparator();
    } else {
        // The hex view's menu: its marked bytes (or the caret's byte).
        const bool marked = m_dialog.HexView()->GetCaretByte() != MCWndHexEditor::kNone;
        QAction* hex = menu.addAction(QStringLiteral("Copy Range as &Hex"), this,
                                      [this] { Report(CopyRangeHex(m_dialog)); });
        hex->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
        hex->setEnabled(marked);
        QAction* raw = menu.addAction(QStringLiteral("Copy Range as &Text"), this,
                                      [this] { Report(CopyRangeText(m_dialog)); });
        raw->setEnabled(marked);
        menu.addSeparator();
    }
    QAction* goTo = menu.addAction(QStringLiteral("&Go to Offset..."), this, [this] { OpenGoTo(); });
    goTo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    QAction* find = menu.addAction(QStringLiteral("&Find..."), this, [this] { OpenFind(); });
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    QAction* next = menu.addAction(QStringLiteral("Find &Next"), this, [this] { FindNext(); });
    next->setShortcut(QKeySequence(Qt::Key_F3));
    QAction* reload = menu.addAction(QStringLiteral("&Reload"), this, [this] { m_dialog.Reload(); });
    reload->setShortcut(QKeySequence(Qt::Key_F5));
    reload->setEnabled(m_dialog.CanReload());
    // The dialog's own menu (the About and Problems items) stays reachable from here too.
    menu.addSeparator();
    const QString about = LoadString(IDS_ABOUTBOX);
    if (!about.isEmpty()) menu.addAction(about, this, [this] { m_dialog.OnSysCommand(IDM_ABOUTBOX); });
    m_dialog.AddProblemsItem(menu);
}

void Navigation::ShowContextMenu(QWidget* widget, const QPoint& pos, bool element) {
    QMenu menu(&m_dialog);
    FillMenu(menu, element);
    menu.exec(widget->mapToGlobal(pos));
}

void Navigation::Report(const QString& message) {
    m_lastMessage = message;
    if (!message.isEmpty()) QToolTip::showText(QCursor::pos(), message, &m_dialog);
}

bool Navigation::OpenDropped(const QList<QUrl>& urls) {
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) continue;
        const QString path = url.toLocalFile();
        if (path.isEmpty()) continue;
        m_dialog.OpenAndRemember(QFileInfo(path).absoluteFilePath());
        return true;
    }
    return false;
}

void Navigation::DragSplit(bool tree, int start, int distance) {
    if (!m_layout.Captured()) m_layout.Capture(m_dialog, {m_goTo, m_find, m_treeSplitter, m_listSplitter});
    if (start == 0) {
        m_splitAtPress = m_layout.Split();
        return;
    }
    const QPoint split = tree ? QPoint(m_splitAtPress.x() + distance, m_layout.Split().y())
                              : QPoint(m_layout.Split().x(), m_splitAtPress.y() + distance);
    m_layout.SetSplit(split.x(), split.y(), m_dialog.size());
    m_layout.Apply(m_dialog.size());
    PlaceSplitters();
    PlaceBars();
}

void Navigation::PlaceSplitters() {
    const QRect tree = m_dialog.Tree()->geometry();
    const QRect list = m_dialog.PropertyList()->geometry();
    const QRect hex = m_dialog.HexViewFrame()->geometry();
    m_treeSplitter->setGeometry(tree.right() + 1, tree.top(), std::max(1, list.left() - tree.right() - 1),
                                tree.height());
    m_listSplitter->setGeometry(list.left(), list.bottom() + 1, list.width(), std::max(1, hex.top() - list.bottom() - 1));
}

void Navigation::AllowResizing(const QRect& available) {
    m_layout.Capture(m_dialog, {m_goTo, m_find, m_treeSplitter, m_listSplitter});
    const QSize base = m_layout.BaseSize();
    const QSize minimum = m_layout.MinimumSize().boundedTo(base);
    m_dialog.setMinimumSize(minimum);
    m_dialog.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (!available.isValid()) return;
    // Room for the window manager's frame, known only once the window is shown.
    QSize frame = m_dialog.frameGeometry().size() - m_dialog.geometry().size();
    if (!m_dialog.isVisible()) frame = QSize(8, 32);
    QSize size = base;
    if (size.width() + frame.width() > available.width()) size.setWidth(available.width() - frame.width());
    if (size.height() + frame.height() > available.height()) size.setHeight(available.height() - frame.height());
    size = size.expandedTo(minimum);
    if (size != base) {
        m_dialog.resize(size);
        m_dialog.move(available.topLeft());
    }
}

void Navigation::SetValueTip() {
    QTableWidget* list = m_dialog.PropertyList();
    const auto record = m_dialog.CurrentRecord();
    for (int row = 0; row < list->rowCount(); ++row) {
        QTableWidgetItem* name = list->item(row, 0);
        QTableWidgetItem* value = list->item(row, 1);
        if (!name || !value || name->text() != QLatin1String("Data Value")) continue;
        value->setToolTip(record ? QString::fromStdU16String(ValueTipText(m_dialog.Document(), *record)) : QString());
    }
}

void Navigation::UpdateTitle() {
    const QString app = QString::fromLatin1(kAppTitle);
    const QuillonDocument& document = m_dialog.Document();
    if (!document.IsOpen()) {
        m_dialog.setWindowTitle(app);
        return;
    }
    const QString name = QFileInfo(QString::fromStdU16String(document.Path())).fileName();
    m_dialog.setWindowTitle(name.isEmpty() ? app : name + QStringLiteral(" - ") + app);
}

void Navigation::ToggleTreeItem() {
    QTreeView* tree = m_dialog.Tree();
    const QModelIndex current = tree->currentIndex();
    if (current.isValid() && tree->model()->hasChildren(current))
        tree->setExpanded(current, !tree->isExpanded(current));
}

bool Navigation::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_dialog.Tree() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
            ToggleTreeItem();
            return true;
        }
    }
    if (watched == &m_dialog) {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDropEvent*>(event);
                const QMimeData* mime = drag->mimeData();
                bool local = false;
                if (mime && mime->hasUrls())
                    for (const QUrl& url : mime->urls()) local = local || url.isLocalFile();
                if (local) {
                    drag->acceptProposedAction();
                    return true;
                }
                break;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                if (drop->mimeData() && OpenDropped(drop->mimeData()->urls())) {
                    drop->acceptProposedAction();
                    return true;
                }
                break;
            }
            case QEvent::Resize:
                if (m_layout.Captured()) {
                    // The split is kept within what the new size allows.
                    m_layout.SetSplit(m_layout.Split().x(), m_layout.Split().y(), m_dialog.size());
                    m_layout.Apply(m_dialog.size());
                }
                PlaceSplitters();
                PlaceBars();
                break;
            default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void Navigation::PlaceBars() {
    for (InputBar* bar : {static_cast<InputBar*>(m_goTo), static_cast<InputBar*>(m_find)})
        if (bar->isVisible()) bar->Place(m_dialog.HexViewFrame()->geometry());
}

void Navigation::WriteState() {
    if (m_stateFile.isEmpty()) return;
    QString line = QStringLiteral("root");
    if (const auto record = m_dialog.CurrentRecord()) {
        const TreeItemRecord& r = m_dialog.Document().Records()[*record];
        // Children held compactly are items.
        const uint16_t group = r.child == kNoChild ? r.node->m_group : 0xFFFE;
        const uint16_t element = r.child == kNoChild ? r.node->m_element : 0xE000;
        const auto [first, last] = m_dialog.Document().Range(*record);
        line = QStringLiteral("%1,%2 %3 %4")
                   .arg(group, 4, 16, QChar('0'))
                   .arg(element, 4, 16, QChar('0'))
                   .toUpper()
                   .arg(first)
                   .arg(last);
    }
    // The caret byte and the bytes in view, for scripts that drive the keys.
    const MCWndHexEditor* view = m_dialog.HexView();
    const auto offset = [](quint64 o) {
        return o == MCWndHexEditor::kNone ? QStringLiteral("none") : QString::number(o);
    };
    line += QStringLiteral("\ncaret=") + offset(view->GetCaretByte());
    const quint64 first = view->GetFirstVisibleByte();
    line += QStringLiteral("\nvisible=") +
            (first == MCWndHexEditor::kNone ? QStringLiteral("none")
                                             : offset(first) + QLatin1Char('-') + offset(view->GetLastVisibleByte()));
    QSaveFile file(m_stateFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    file.write((line + QLatin1Char('\n')).toUtf8());
    file.commit();
}

}  // namespace quillon
