// quillon-snapshot: opens a DICOM file in the viewer's main dialog on the
// offscreen platform, optionally selects an element, and saves a picture of
// the whole window.
//   quillon-snapshot FILE OUT.png [--select GGGG,EEEE[/N]] [--goto OFFSET]
// --select picks the Nth element (from 1; 1 when /N is left out) with that
// tag in tree order, expanding the items above it. The picture is taken as
// soon as the selected element's picture is final: a frame's thumbnail is
// made first and the others are not waited for (the status area may still
// count them). Without --select every thumbnail is waited for, so that the
// tree shows every frame-decode problem. --goto then does what Ctrl+G does
// with OFFSET typed in its bar (1234, 0x4D2 or 4D2h): selects the outermost
// element that holds the byte and puts the hex view's caret on it. With
// QUILLON_STATE_FILE set, the state file is written as the viewer writes it.
#include <QApplication>
#include <QImage>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "app/CQuillonDlg.h"
#include "app/ElementTreeModel.h"
#include "app/GoToOffsetBar.h"
#include "app/Navigation.h"
#include "app/MessageBox.h"
#include "document/ElementSelector.h"
#include "document/RecentFiles.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: quillon-snapshot FILE OUT.png [--select GGGG,EEEE[/N]] [--goto OFFSET]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) return Usage();
    std::optional<quillon::ElementSelector> selector;
    std::optional<std::string> goTo;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--select" && !selector) {
            if (!(selector = quillon::ParseElementSelector(argv[i + 1]))) return Usage();
        } else if (option == "--goto" && !goTo) {
            goTo = argv[i + 1];
        } else {
            return Usage();
        }
    }
    const bool select = selector.has_value();

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // Messages go to the standard error stream instead of a box; a file read
    // part way is pictured as the window shows it after its box.
    quillon::SetErrorBoxHandler([](QWidget*, const QString&, const QString& text) {
        std::fprintf(stderr, "%s\n", text.trimmed().toLocal8Bit().constData());
    });

    // A recent list of its own: the user's list is left alone.
    quillon::CQuillonDlg dialog(nullptr, std::make_unique<quillon::MemoryRecentStore>());
    dialog.show();
    QApplication::processEvents();
    dialog.OpenDocument(QString::fromLocal8Bit(argv[1]));
    if (!dialog.Document().IsOpen()) return 1;
    QApplication::processEvents();

    if (select) {
        const std::optional<std::size_t> found =
            quillon::FindSelectedRecord(dialog.Document().Records(), *selector);
        if (!found) {
            std::fprintf(stderr, "no element (%04X,%04X) number %u\n", selector->group, selector->element,
                         selector->nth);
            return 1;
        }
        const QModelIndex index = dialog.TreeModel()->IndexOfRecord(*found);
        dialog.Tree()->setFocus();
        dialog.Tree()->setCurrentIndex(index);
        QApplication::processEvents();
        dialog.Tree()->scrollTo(index);
        dialog.WaitForPicture();
    } else {
        dialog.WaitForThumbnails();
    }
    if (goTo) {
        quillon::GoToOffsetBar* bar = dialog.Navigation()->GoToBar();
        if (!bar->Go(QString::fromLocal8Bit(goTo->c_str()))) {
            std::fprintf(stderr, "%s\n", bar->Message().toLocal8Bit().constData());
            return 1;
        }
        QApplication::processEvents();
    }
    QApplication::processEvents();

    const QImage picture = dialog.grab().toImage();
    if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
