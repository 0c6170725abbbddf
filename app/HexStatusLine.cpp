#include "app/HexStatusLine.h"

#include <QFontMetrics>
#include <QFrame>
#include <QPushButton>

#include "app/CQuillonDlg.h"
#include "app/DialogUnits.h"
#include "document/ByteSearch.h"
#include "hexview/MCWndHexEditor.h"

namespace quillon {

HexStatusLine::HexStatusLine(CQuillonDlg& dialog) : QLabel(&dialog), m_dialog(dialog) {
    setObjectName(QStringLiteral("hexStatusLine"));
    setTextFormat(Qt::PlainText);
    // In the bottom row, under the hex view, between the maker's link and Exit.
    const DialogUnits du(dialog.font());
    const QRect frame = dialog.HexViewFrame()->geometry();
    const QRect exit = dialog.ExitButton()->geometry();
    const QRect row = du.Map(0, 386, 0, 10);
    setGeometry(frame.left(), row.top(), std::max(0, exit.left() - 4 - frame.left()), row.height());
    connect(dialog.HexView(), &MCWndHexEditor::CaretMoved, this, &HexStatusLine::Refresh);
    show();
}

void HexStatusLine::Refresh() {
    MCWndHexEditor* view = m_dialog.HexView();
    m_text = QString::fromStdU16String(
        CaretStatusText(m_dialog.Document(), view->GetCaretByte(), view->GetRange().Length()));
    setToolTip(m_text);
    ShowCut();
}

void HexStatusLine::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    ShowCut();
}

void HexStatusLine::ShowCut() { setText(fontMetrics().elidedText(m_text, Qt::ElideRight, std::max(0, width()))); }

}  // namespace quillon
