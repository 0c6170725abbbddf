// The main dialog itself: start state, layout of template 102, tab order,
// the keys that end it, the About box and the link button.
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/CAboutDlg.h"
#include "app/DialogUnits.h"
#include "app/QuillonResources.h"
#include "tests/qt/app_support.h"

using namespace quillon;

// Receives the addresses that QDesktopServices would open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls << url; }
};

class AppDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_settings = std::make_unique<apptest::ScratchSettings>(); }

    void startState() {
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(dlg.Initialised());
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Quillon"));
        QCOMPARE(dlg.SizeLabel()->text(), QStringLiteral("Size : 0"));
        QCOMPARE(dlg.TreeModel()->rowCount(), 0);
        QCOMPARE(dlg.RecentCombo()->count(), 0);
        QCOMPARE(dlg.RecentCombo()->currentIndex(), -1);
        QCOMPARE(dlg.HexView()->GetDataSize(), 0u);
        // Row names, and an empty value column.
        const char* names[] = {"Tag", "Description", "VR", "Tag Offset", "Data Offset", "Data Size", "Data Value"};
        QCOMPARE(dlg.PropertyList()->rowCount(), 7);
        QCOMPARE(dlg.PropertyList()->columnCount(), 2);
        for (int row = 0; row < 7; ++row) {
            QCOMPARE(dlg.PropertyList()->item(row, 0)->text(), QString::fromLatin1(names[row]));
            QCOMPARE(dlg.PropertyValue(row), QString());
        }
        // Picture 132: grey with a two-pixel white edge on the right and at the bottom.
        const QImage picture = dlg.Picture().toImage();
        QCOMPARE(picture.size(), QSize(128, 128));
        const QRgb grey = qRgb(0xC0, 0xC0, 0xC0), white = qRgb(0xFF, 0xFF, 0xFF);
        struct {
            int x, y;
            QRgb colour;
        } pixels[] = {{0, 0, grey},    {125, 125, grey}, {126, 0, white}, {127, 64, white},
                      {0, 126, white}, {64, 127, white}, {125, 0, grey},  {0, 125, grey}};
        for (const auto& p : pixels) QCOMPARE(picture.pixel(p.x, p.y) & 0xFFFFFF, p.colour & 0xFFFFFF);
        QCOMPARE(DefaultPictureImage().colorCount(), 16);
        // The button shows it: a grab of its centre is the grey.
        const QImage shown = dlg.PictureButton()->grab().toImage();
        QCOMPARE(shown.pixel(shown.width() / 2, shown.height() / 2) & 0xFFFFFF, grey & 0xFFFFFF);
        // Focus starts on the first tab stop, Exit.
        QCOMPARE(dlg.focusWidget(), dlg.ExitButton());
    }

    void propertyListLook() {
        CQuillonDlg dlg;
        QTableWidget* list = dlg.PropertyList();
        QCOMPARE(list->horizontalHeaderItem(0)->text(), QStringLiteral("Property"));
        QCOMPARE(list->horizontalHeaderItem(1)->text(), QStringLiteral("Value"));
        QCOMPARE(list->columnWidth(0), 100);
        QCOMPARE(list->columnWidth(1), 220);
        QVERIFY(list->showGrid());
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(!list->horizontalHeader()->sectionsClickable());
        for (int row = 0; row < 7; ++row) {
            const QColor expected = row % 2 == 0 ? QColor(0xE0, 0xE0, 0xE0) : QColor(0xFF, 0xFF, 0xFF);
            for (int column = 0; column < 2; ++column) {
                QCOMPARE(list->item(row, column)->background().color(), expected);
                QCOMPARE(list->item(row, column)->foreground().color(), QColor(Qt::black));
            }
        }
        // All seven rows fit without scrolling.
        dlg.show();
        QVERIFY(list->verticalHeader()->length() + list->horizontalHeader()->height() <=
                list->viewport()->height() + list->horizontalHeader()->height());
    }

    // Every control at its dialog-unit rectangle, the hex view over 1005.
    void layout() {
        CQuillonDlg dlg;
        const DialogUnits du(dlg.font());
        QVERIFY(du.BaseX() > 0 && du.BaseY() > 0);
        QCOMPARE(dlg.size(), du.MapSize(563, 404));
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        struct {
            int id, x, y, w, h;
        } controls[] = {
            {IDC_EXIT, 506, 383, 50, 14},
            {IDC_OPEN, 343, 11, 50, 14},
            {IDC_TREE, 7, 32, 203, 323},
            {IDC_PROPERTIES, 215, 33, 232, 96},
            {IDC_HEXVIEW_FRAME, 216, 134, 340, 244},
            {IDC_SIZE, 11, 364, 193, 8},
            {IDC_PICTURE, 452, 33, 104, 96},
        };
        for (const auto& c : controls) {
            QWidget* w = dlg.Control(c.id);
            QVERIFY2(w, qPrintable(QString::number(c.id)));
            QCOMPARE(w->geometry(), du.Map(c.x, c.y, c.w, c.h));
            QCOMPARE(w->property("controlId").toInt(), c.id);
        }
        const QRect combo = du.Map(40, 11, 299, 210);
        QCOMPARE(dlg.RecentCombo()->geometry().topLeft(), combo.topLeft());
        QCOMPARE(dlg.RecentCombo()->width(), combo.width());
        QCOMPARE(dlg.LinkButton()->pos(), du.Map(88, 384, 34, 12).topLeft());
        QCOMPARE(dlg.HexView()->geometry(), dlg.HexViewFrame()->geometry());
        QCOMPARE(dlg.HexView()->parentWidget(), &dlg);
        // Template conversion: x by a quarter of the average width, y by an eighth of the height.
        QCOMPARE(du.Map(4, 8, 4, 8), QRect(du.BaseX(), du.BaseY(), du.BaseX(), du.BaseY()));
    }

    void tabOrder() {
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QList<QWidget*> expected = {dlg.ExitButton(),   dlg.OpenButton(), dlg.RecentCombo(),   dlg.Tree(),
                                    dlg.PropertyList(), dlg.LinkButton(), dlg.PictureButton(), dlg.ExitButton()};
        dlg.ExitButton()->setFocus();
        for (int i = 1; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected[i]);
        }
    }

    void keysEndTheDialog_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("result");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << "tree" << int(QDialog::Rejected);
        QTest::newRow("keypad Enter in the list") << int(Qt::Key_Enter) << "list" << int(QDialog::Accepted);
        QTest::newRow("Enter on Exit") << int(Qt::Key_Return) << "exit" << int(QDialog::Rejected);
        QTest::newRow("Enter in the drop-down") << int(Qt::Key_Return) << "combo" << int(QDialog::Accepted);
    }

    void keysEndTheDialog() {
        QFETCH(int, key);
        QFETCH(QString, focus);
        QFETCH(int, result);
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        // With a document shown, so that the tree has items to take keys.
        apptest::BoxRecorder boxes;
        doctest_files::TempDir dir;
        dlg.OpenDocument(apptest::Q(dir.Write("a.dcm", doctest_files::SequenceFile())));
        QWidget* target = focus == "tree"    ? static_cast<QWidget*>(dlg.Tree())
                          : focus == "list"  ? static_cast<QWidget*>(dlg.PropertyList())
                          : focus == "combo" ? static_cast<QWidget*>(dlg.RecentCombo())
                                             : static_cast<QWidget*>(dlg.ExitButton());
        target->setFocus();
        QCOMPARE(QApplication::focusWidget(), target);
        QTest::keyClick(target, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), result);
    }

    void exitButtonAndOtherButtons() {
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        // Enter on the Open button is its click, not the end of the dialog.
        int asked = 0;
        dlg.SetFileChooser([&asked](QWidget*) {
            ++asked;
            return QString();
        });
        dlg.OpenButton()->setFocus();
        QTest::keyClick(dlg.OpenButton(), Qt::Key_Return);
        QCOMPARE(asked, 1);
        QVERIFY(dlg.isVisible());
        QTest::mouseClick(dlg.ExitButton(), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }

    void aboutBox() {
        CQuillonDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QCOMPARE(LoadString(IDS_ABOUTBOX), QStringLiteral("&About Quillon..."));

        // The context menu of the dialog carries the About item, then the
        // Problems item (disabled: no file, no problems) and Reload (disabled:
        // no file to open again); choosing About opens the box modally.
        QString title, product, version, ok;
        bool sawMenu = false;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            const QList<QAction*> actions = menu->actions();
            sawMenu = actions.size() == 3 && actions[0]->text() == "&About Quillon..." &&
                      actions[1]->text() == "Problems..." && !actions[1]->isEnabled() &&
                      actions[2]->text() == "&Reload" && !actions[2]->isEnabled();
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                if (!box) return;
                title = box->windowTitle();
                product = box->findChild<QLabel*>("productName")->text();
                version = box->VersionLabel()->text();
                ok = box->OkButton()->text();
                QTest::mouseClick(box->OkButton(), Qt::LeftButton);
            });
            menu->actions().first()->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 300), dlg.mapToGlobal(QPoint(20, 300)));
        QApplication::sendEvent(&dlg, &event);
        QVERIFY(sawMenu);
        QCOMPARE(title, QStringLiteral("About Quillon"));
        QCOMPARE(product, QStringLiteral("Quillon"));
        QCOMPARE(version, QStringLiteral("Version " QUILLON_VERSION " (64 bit)"));
        QCOMPARE(ok, QStringLiteral("OK"));

        // Any system command with the About identifier in its upper bits opens it too.
        bool opened = false;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                opened = true;
                box->reject();
            }
        });
        dlg.OnSysCommand(IDM_ABOUTBOX | 0x3);
        QVERIFY(opened);
    }

    void linkButton() {
        CQuillonDlg dlg;
        dlg.show();
        QPushButton* link = dlg.LinkButton();
        QCOMPARE(link->text(), QStringLiteral("Brevant"));
        QCOMPARE(link->toolTip(), QStringLiteral("Visit Brevant site"));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(link->isFlat());
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
        QTest::mouseClick(link, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl(QString::fromLatin1(kMakerUrl))});
    }

private:
    std::unique_ptr<apptest::ScratchSettings> m_settings;
};

QTEST_MAIN(AppDialogTest)
#include "app_dialog_test.moc"
