// Working with the bytes in the main window: go to offset reaching the byte
// (caret, scrolling, focus, state file), the keys and the Shift range in the
// hex view with its status line, a hex byte pattern in the find bar with F3,
// Enter on a tree item and in the hex view, and the title.
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/FindBar.h"
#include "app/GoToOffsetBar.h"
#include "app/HexStatusLine.h"
#include "app/Navigation.h"
#include "app/SplitterHandles.h"
#include "tests/qt/app_support.h"

using namespace quillon;
using apptest::Q;

namespace {

// A file whose 200 000-byte OB value runs far past the first screens; its
// bytes are i % 251, so that every byte's value is known.
doctest_files::Bytes LongValueFile(uint64_t* valueStart) {
    testdicom::Writer w = testdicom::Part10(testdicom::kExplicitLE);
    testdicom::StudyElements(w);
    testdicom::Bytes value(200000);
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = uint8_t(i % 251);
    w.element(0x0042, 0x0011, "OB", value);
    w.text(0x0020, 0x0013, "IS", testdicom::Pad("7"));
    const doctest_files::Bytes bytes = w.bytes();
    // The value ends 10 bytes before the IS element's 10 bytes.
    *valueStart = bytes.size() - 10 - value.size();
    return bytes;
}

QStringList StateLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void GoTo(CQuillonDlg& dlg, const QString& typed) {
    QTest::keyClick(&dlg, Qt::Key_G, Qt::ControlModifier);
    GoToOffsetBar* bar = dlg.Navigation()->GoToBar();
    bar->Edit()->selectAll();
    QTest::keyClicks(bar->Edit(), typed);
    QTest::keyClick(bar->Edit(), Qt::Key_Return);
}

}  // namespace

class AppCaretTest : public QObject {
    Q_OBJECT

private slots:
    void goToReachesTheByteAndTheKeysGoOnFromIt() {
        QTemporaryDir stateDir;
        const QString statePath = stateDir.filePath(QStringLiteral("state"));
        qputenv("QUILLON_STATE_FILE", statePath.toLocal8Bit());
        doctest_files::TempDir dir;
        uint64_t valueStart = 0;
        const auto path = dir.Write("long.dcm", LongValueFile(&valueStart));
        CQuillonDlg dlg;
        qunsetenv("QUILLON_STATE_FILE");
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.OpenDocument(Q(path));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("long.dcm - Quillon"));
        MCWndHexEditor* view = dlg.HexView();

        // Far into the value: the element is selected as before, the byte
        // is in view with the caret on it, and the keys work from there.
        const quint64 target = valueStart + 150000 + 7;
        GoTo(dlg, QStringLiteral("0x") + QString::number(target, 16));
        QCOMPARE(dlg.Tree()->currentIndex(), apptest::ItemOf(dlg, 0x0042, 0x0011));
        QCOMPARE(view->GetHighlightStart(), valueStart - 12);
        QCOMPARE(view->GetCaretByte(), target);
        QVERIFY(view->GetFirstVisibleByte() <= target && target <= view->GetLastVisibleByte());
        QVERIFY(view->GetFirstVisibleByte() > valueStart);  // not left at the element's start
        QVERIFY(view->hasFocus());
        const QString hex = QString::number(target, 16).toUpper();
        QCOMPARE(
            StateLines(statePath),
            (QStringList{
                QStringLiteral("0042,0011 %1 %2").arg(valueStart - 12).arg(valueStart + 199999),
                QStringLiteral("caret=%1").arg(target),
                QStringLiteral("visible=%1-%2").arg(view->GetFirstVisibleByte()).arg(view->GetLastVisibleByte())}));

        // The status line: offset in decimal and hex, the byte, the element.
        HexStatusLine* status = dlg.Navigation()->StatusLine();
        const QString byte = QStringLiteral("0x%1").arg(uint((150000 + 7) % 251), 2, 16, QChar('0')).toUpper();
        QCOMPARE(
            status->FullText(),
            QStringLiteral("Offset %1 (0x%2) | Byte %3 | in ").arg(target).arg(hex).arg(byte.mid(2).prepend("0x")) +
                QString::fromStdU16String(dlg.Document().Label(*dlg.CurrentRecord())));
        QVERIFY(status->isVisible());
        QVERIFY(status->geometry().top() > dlg.HexViewFrame()->geometry().bottom());

        // Shift and the arrows mark a range; the status line counts it.
        QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(view->GetRangeStart(), target);
        QCOMPARE(view->GetRangeEnd(), target + 17);
        QVERIFY(status->FullText().contains(QStringLiteral(" | Range 18 bytes | ")));
        QVERIFY(StateLines(statePath).contains(QStringLiteral("caret=%1").arg(target + 17)));
        // Ctrl+End: the last byte of the file, in view; the range still runs from its anchor.
        QTest::keyClick(view, Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(view->GetCaretByte(), dlg.Document().DataSize() - 1);
        QCOMPARE(view->GetRangeStart(), target);
        QCOMPARE(view->GetLastVisibleByte(), dlg.Document().DataSize() - 1);
        QVERIFY(status->FullText().contains(QStringLiteral("(0020,0013)")));

        // Enter in the hex view does nothing, Esc still closes the window.
        QTest::keyClick(view, Qt::Key_Return);
        QTest::keyClick(view, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(dlg.isVisible());
        QCOMPARE(view->GetCaretByte(), dlg.Document().DataSize() - 1);
        QTest::keyClick(view, Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
    }

    void goToPastTheEndLeavesTheCaret() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        GoTo(dlg, QStringLiteral("280"));
        QCOMPARE(dlg.HexView()->GetCaretByte(), quint64(280));
        GoTo(dlg, QStringLiteral("412"));  // the file has 412 bytes
        QVERIFY(dlg.Navigation()->GoToBar()->isVisible());
        QCOMPARE(dlg.HexView()->GetCaretByte(), quint64(280));
        // A click moves the caret; no caret and an empty status line after a new open.
        dlg.Navigation()->GoToBar()->Close();
        apptest::ClickByte(dlg.HexView(), 365);
        QCOMPARE(dlg.HexView()->GetCaretByte(), quint64(365));
        QVERIFY(dlg.Navigation()->StatusLine()->FullText().startsWith(QStringLiteral("Offset 365 (0x16D) | Byte ")));
        dlg.OpenDocument(Q(dir.Write("seq2.dcm", doctest_files::SequenceFile())));
        QCOMPARE(dlg.HexView()->GetCaretByte(), MCWndHexEditor::kNone);
        QCOMPARE(dlg.Navigation()->StatusLine()->FullText(), QString());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("seq2.dcm - Quillon"));
    }

    // "FE FF 00 E0" finds the item tags forward from the caret, F3 the next,
    // round past the end; the match is the marked range.
    void findHexPattern() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        FindBar* bar = dlg.Navigation()->FindBar();
        QSignalSpy done(bar, &FindBar::BytesSearched);
        QTest::keyClick(&dlg, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(bar->Edit(), QStringLiteral("fe ff 00 e0"));
        QTest::keyClick(bar->Edit(), Qt::Key_Return);
        QVERIFY(done.wait(5000) || done.count() == 1);
        QCOMPARE(dlg.HexView()->GetCaretByte(), quint64(248));
        QCOMPARE(dlg.HexView()->GetRangeStart(), quint64(248));
        QCOMPARE(dlg.HexView()->GetRangeEnd(), quint64(251));
        QCOMPARE(dlg.Tree()->currentIndex(), apptest::ItemOf(dlg, 0x0008, 0x1115));
        QCOMPARE(bar->Message(), QStringLiteral("Found at 248 (0xF8)"));

        for (quint64 next : {294, 344, 248}) {
            const int before = done.count();
            QTest::keyClick(dlg.Tree(), Qt::Key_F3);
            QTRY_COMPARE(done.count(), before + 1);
            QCOMPARE(done.last().first().toBool(), true);
            QCOMPARE(dlg.HexView()->GetCaretByte(), next);
        }
        QVERIFY(bar->Message().startsWith(QStringLiteral("Wrapped to the top")));

        // From a caret after the last match; a pattern that is not there.
        bar->Close();
        apptest::ClickByte(dlg.HexView(), 400);
        bar->FindNext(QStringLiteral("FE FF 00 E0"));
        QTRY_VERIFY(!bar->Searching());
        QCOMPARE(dlg.HexView()->GetCaretByte(), quint64(248));
        bar->FindNext(QStringLiteral("FE FF 0D E1"));
        QTRY_VERIFY(!bar->Searching());
        QCOMPARE(bar->Message(), QStringLiteral("Not found"));
        QCOMPARE(dlg.HexView()->GetCaretByte(), quint64(248));
        // A search started while another runs ends that one: one answer only.
        const int before = done.count();
        bar->FindNext(QStringLiteral("FE FF 00 E0"));
        bar->FindNext(QStringLiteral("FE FF 00 E0"));
        QTRY_VERIFY(!bar->Searching());
        QTest::qWait(50);
        QCOMPARE(done.count(), before + 1);
        QCOMPARE(dlg.HexView()->GetCaretByte(), quint64(294));
        // Text still finds elements.
        QVERIFY(bar->FindNext(QStringLiteral("Roe")));
        QCOMPARE(dlg.Tree()->currentIndex(), apptest::ItemOf(dlg, 0x0010, 0x0010, 2));
    }

    // Copy of the marked bytes (hex and raw text, Ctrl+C in the hex view),
    // and the value cell's tooltip.
    void copyRangeAndValueTip() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        MCWndHexEditor* view = dlg.HexView();
        // Nothing marked yet.
        QMenu menu;
        dlg.Navigation()->FillMenu(menu, false);
        QCOMPARE(menu.actions().first()->text(), QStringLiteral("Copy Range as &Hex"));
        QVERIFY(!menu.actions().first()->isEnabled());

        // "Roe^Ann " is the value at 372..379: the caret on 'R', Shift+Right twice marks "Roe".
        apptest::ClickByte(view, 372);
        // Without a range the caret's byte is copied.
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("52"));
        QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("52 6F 65"));
        QMenu again;
        dlg.Navigation()->FillMenu(again, false);
        again.actions().at(1)->trigger();  // Copy Range as Text
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Roe"));
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->data(QStringLiteral("application/octet-stream")),
                 QByteArray("Roe"));

        // The tooltip of the value cell: the value (here the whole short text).
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0010, 2));
        QTableWidget* list = dlg.PropertyList();
        int valueRow = -1;
        for (int row = 0; row < list->rowCount(); ++row)
            if (list->item(row, 0) && list->item(row, 0)->text() == QLatin1String("Data Value")) valueRow = row;
        QVERIFY(valueRow >= 0);
        QCOMPARE(list->item(valueRow, 1)->toolTip(), QStringLiteral("Roe^Ann "));
        QCOMPARE(list->item(valueRow, 1)->text(), dlg.PropertyValue(valueRow));
    }

    // The splitters between the tree and the right side and between the
    // property list and the hex view move those boundaries, within limits,
    // and the split survives a resize.
    void splittersMoveTheBoundaries() {
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const QRect tree = dlg.Tree()->geometry(), list = dlg.PropertyList()->geometry();
        const QRect hex = dlg.HexView()->geometry(), status = dlg.Navigation()->StatusLine()->geometry();
        SplitterHandle* sideways = dlg.Navigation()->TreeSplitter();
        SplitterHandle* down = dlg.Navigation()->ListSplitter();
        QVERIFY(sideways->geometry().left() > tree.right() && sideways->geometry().right() < list.left());
        QVERIFY(down->geometry().top() > list.bottom() && down->geometry().bottom() < hex.top());

        const auto drag = [](QWidget* handle, QPoint by) {
            const QPoint at = handle->rect().center();
            QTest::mousePress(handle, Qt::LeftButton, {}, at);
            QMouseEvent move(QEvent::MouseMove, QPointF(at + by), handle->mapToGlobal(QPointF(at + by)), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(handle, &move);
            QTest::mouseRelease(handle, Qt::LeftButton, {}, at + by);
        };
        drag(sideways, QPoint(40, 0));
        QCOMPARE(dlg.Tree()->width(), tree.width() + 40);
        QCOMPARE(dlg.PropertyList()->geometry(), list.adjusted(40, 0, 0, 0));
        QCOMPARE(dlg.HexView()->geometry(), hex.adjusted(40, 0, 0, 0));
        QCOMPARE(dlg.HexViewFrame()->geometry(), dlg.HexView()->geometry());
        QCOMPARE(dlg.Navigation()->StatusLine()->geometry(), status.adjusted(40, 0, 0, 0));
        QVERIFY(sideways->geometry().left() > dlg.Tree()->geometry().right());
        // Far to the right: the list and the hex view keep their minimum widths.
        drag(sideways, QPoint(2000, 0));
        QVERIFY(dlg.PropertyList()->width() >= 140 && dlg.HexView()->width() >= 260);
        QVERIFY(dlg.Tree()->width() < tree.width() + 2000);
        // Back left of where it started: the tree narrows, to its minimum at most.
        drag(sideways, QPoint(-5000, 0));
        QCOMPARE(dlg.Tree()->width(), 180);

        drag(down, QPoint(0, 30));
        QCOMPARE(dlg.PropertyList()->height(), list.height() + 30);
        QCOMPARE(dlg.HexView()->geometry().top(), hex.top() + 30);
        QCOMPARE(dlg.HexView()->geometry().bottom(), hex.bottom());
        // Up past the start: the list keeps its designed height (the picture sits above the hex view).
        drag(down, QPoint(0, -500));
        QCOMPARE(dlg.PropertyList()->height(), list.height());
        drag(down, QPoint(0, 30));

        // A larger window keeps the split.
        dlg.AllowResizing(QRect());
        dlg.resize(dlg.size() + QSize(100, 50));
        QCOMPARE(dlg.PropertyList()->height(), list.height() + 30);
        QCOMPARE(dlg.Tree()->width(), 180);
        QCOMPARE(dlg.HexView()->geometry().bottom(), hex.bottom() + 50);
    }

    void smallestWindowKeepsExitAndScrollsSideways() {
        doctest_files::TempDir dir;
        uint64_t valueStart = 0;
        const auto path = dir.Write("long.dcm", LongValueFile(&valueStart));
        CQuillonDlg dlg;
        dlg.AllowResizing(QRect());
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.OpenDocument(Q(path));
        dlg.resize(QSize(1, 1));
        QCOMPARE(dlg.size(), dlg.minimumSize());
        QVERIFY(dlg.minimumSize().width() < 600 && dlg.minimumSize().height() < 400);

        // Every control inside the window, Exit clear of the others.
        const QRect client = dlg.rect();
        for (QWidget* w : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!w->isVisible()) continue;
            QVERIFY2(client.contains(w->geometry()), qPrintable(w->objectName()));
            if (w != static_cast<QWidget*>(dlg.ExitButton()))
                QVERIFY2(!w->geometry().intersects(dlg.ExitButton()->geometry()), qPrintable(w->objectName()));
        }
        QVERIFY(dlg.ExitButton()->isVisible());

        // The hex view is narrower than a line: it scrolls sideways, with
        // rows to work in above its bar.
        MCWndHexEditor* view = dlg.HexView();
        QVERIFY(view->HorizontalScrollBar()->isVisible());
        QVERIFY(view->GetVisibleLines() >= 3);
        const auto shown = [view](std::pair<int, int> cell) {
            return cell.first >= view->GetHorizontalOffset() &&
                   cell.second <= view->GetHorizontalOffset() + view->ClientRect().width();
        };
        // Go to a byte: its line and its cell come into view.
        const quint64 target = valueStart + 1000 + 15;
        GoTo(dlg, QString::number(target));
        QCOMPARE(view->GetCaretByte(), target);
        QVERIFY(view->GetFirstVisibleByte() <= target && target <= view->GetLastVisibleByte());
        QVERIFY(shown(view->GetHexCell(15)));
        QVERIFY(view->GetHorizontalOffset() > 0);
        // A click in the text column, where the view has to scroll to it.
        apptest::ClickByte(view, target - 12, true);
        QCOMPARE(view->GetCaretByte(), target - 12);
        QCOMPARE(view->GetActiveColumn(), 1);
        QVERIFY(dlg.Navigation()->StatusLine()->FullText().startsWith(QStringLiteral("Offset %1 ").arg(target - 12)));
        QVERIFY(shown(view->GetTextCell(3)));
    }

    void enterOnATreeItemOpensAndClosesIt() {
        doctest_files::TempDir dir;
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.OpenDocument(Q(dir.Write("seq.dcm", doctest_files::SequenceFile())));
        const QModelIndex sequence = apptest::ItemOf(dlg, 0x0008, 0x1115);
        dlg.Tree()->setFocus();
        dlg.Tree()->setCurrentIndex(sequence);
        const bool open = dlg.Tree()->isExpanded(sequence);
        QTest::keyClick(dlg.Tree(), Qt::Key_Return);
        QCOMPARE(dlg.Tree()->isExpanded(sequence), !open);
        QTest::keyClick(dlg.Tree(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(dlg.Tree()->isExpanded(sequence), open);
        QVERIFY(dlg.isVisible());
        // An element without children: nothing happens, the window stays.
        dlg.Tree()->setCurrentIndex(apptest::ItemOf(dlg, 0x0010, 0x0020));
        QTest::keyClick(dlg.Tree(), Qt::Key_Return);
        QVERIFY(dlg.isVisible());
        QTest::keyClick(dlg.Tree(), Qt::Key_Escape);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(AppCaretTest)
#include "app_caret_test.moc"
