#pragma once
// Shared pieces of the main window's widget tests: message boxes recorded
// instead of shown, the per-user settings redirected to a temporary
// directory, clicks on bytes of the hex view, and tree lookups.
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <vector>

#include "app/CQuillonDlg.h"
#include "app/ElementTreeModel.h"
#include "app/MessageBox.h"
#include "hexview/MCWndHexEditor.h"
#include "tests/support/DocTestFiles.h"

namespace apptest {

struct RecordedBox {
    QString caption;
    QString text;
    bool waitCursor;  // the wait cursor was up while the box was shown
};

// Records every error box while it lives.
class BoxRecorder {
public:
    BoxRecorder() {
        m_previous = quillon::SetErrorBoxHandler([this](QWidget*, const QString& caption, const QString& text) {
            const QCursor* cursor = QApplication::overrideCursor();
            boxes.push_back({caption, text, cursor && cursor->shape() == Qt::WaitCursor});
        });
    }
    ~BoxRecorder() { quillon::SetErrorBoxHandler(m_previous); }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<RecordedBox> boxes;

private:
    quillon::ErrorBoxHandler m_previous;
};

// Points the per-user settings at a fresh temporary directory, so that no
// test reads or writes a user's list.
class ScratchSettings {
public:
    ScratchSettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }
    QString Path() const { return m_dir.path(); }
    // The stored recent-files values URL1..URL8.
    QStringList Stored() const {
        QSettings s(QStringLiteral("Brevant"), QStringLiteral("Quillon"));
        s.beginGroup(QStringLiteral("Recent DICOM HEX File"));
        QStringList values;
        for (int n = 1; n <= 8; ++n) values << s.value(QStringLiteral("URL%1").arg(n)).toString();
        return values;
    }
    bool HasValue(int n) const {
        QSettings s(QStringLiteral("Brevant"), QStringLiteral("Quillon"));
        s.beginGroup(QStringLiteral("Recent DICOM HEX File"));
        return s.contains(QStringLiteral("URL%1").arg(n));
    }
    void Store(const QStringList& paths) const {
        QSettings s(QStringLiteral("Brevant"), QStringLiteral("Quillon"));
        s.remove(QString());
        s.beginGroup(QStringLiteral("Recent DICOM HEX File"));
        for (int i = 0; i < paths.size(); ++i) s.setValue(QStringLiteral("URL%1").arg(i + 1), paths[i]);
    }

private:
    QTemporaryDir m_dir;
};

inline QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

inline QStringList ComboEntries(const quillon::CQuillonDlg& dlg) {
    QStringList entries;
    for (int i = 0; i < dlg.RecentCombo()->count(); ++i) entries << dlg.RecentCombo()->itemText(i);
    return entries;
}

// The tree index of the nth record (from 1) with a tag.
inline QModelIndex ItemOf(quillon::CQuillonDlg& dlg, uint16_t group, uint16_t element, int nth = 1) {
    const auto& records = dlg.Document().Records();
    for (std::size_t i = 0; i < records.size(); ++i)
        if (records[i].Element()->Is(group, element) && --nth == 0) return dlg.TreeModel()->IndexOfRecord(i);
    return {};
}

// Clicks byte `offset` in the hex column (or the text column) of the view,
// scrolling its line into view first, and its cell sideways when the view is
// too narrow for a whole line.
inline void ClickByte(MCWndHexEditor* view, quint64 offset, bool textColumn = false) {
    const quint64 line = offset / 16;
    if (line < view->GetFirstLine() || line >= view->GetFirstLine() + quint64(view->GetVisibleLines())) {
        view->SetHighlight(offset, offset);  // scrolls the line to the top
    }
    const int row = int(line - view->GetFirstLine());
    const auto cell = textColumn ? view->GetTextCell(int(offset % 16)) : view->GetHexCell(int(offset % 16));
    const int width = view->ClientRect().width();
    if (cell.first < view->GetHorizontalOffset() || cell.second > view->GetHorizontalOffset() + width)
        view->SetHorizontalOffset(cell.first);
    const QPoint at((cell.first + cell.second) / 2 - view->GetHorizontalOffset(),
                    row * view->GetLineHeight() + view->GetLineHeight() / 2);
    QTest::mouseClick(view->ClientArea(), Qt::LeftButton, Qt::NoModifier, at);
}

// Clicks the offset column of the first row (no byte there).
inline void ClickOffsetColumn(MCWndHexEditor* view) {
    QTest::mouseClick(view->ClientArea(), Qt::LeftButton, Qt::NoModifier, QPoint(2, view->GetLineHeight() / 2));
}

}  // namespace apptest
