#include "app/GoToOffsetBar.h"

#include <QLineEdit>

#include "app/CQuillonDlg.h"
#include "document/ElementSearch.h"
#include "hexview/MCWndHexEditor.h"

namespace quillon {

GoToOffsetBar::GoToOffsetBar(CQuillonDlg& dialog)
    : InputBar(QStringLiteral("Go to offset:"), QStringLiteral("goToOffsetBar"), &dialog), m_dialog(dialog) {
    Edit()->setPlaceholderText(QStringLiteral("1234, 0x4D2 or 4D2h"));
    connect(this, &InputBar::Submitted, this, [this](const QString& text) {
        if (!Go(text)) return;
        Close();
        // On to the bytes: the keys move the caret from there.
        m_dialog.HexView()->setFocus(Qt::OtherFocusReason);
    });
}

bool GoToOffsetBar::Go(const QString& text) {
    const auto offset = ParseOffset(text.toStdU16String());
    if (!offset) {
        ShowMessage(QStringLiteral("Not an offset: type 1234, 0x4D2 or 4D2h"));
        return false;
    }
    quillon::QuillonDocument& document = m_dialog.Document();
    if (!document.IsOpen()) {
        ShowMessage(QStringLiteral("No file is open"));
        return false;
    }
    if (*offset >= document.DataSize()) {
        ShowMessage(
            QStringLiteral("Offset %1 is past the end (the file has %2 bytes)").arg(*offset).arg(document.DataSize()));
        return false;
    }
    m_dialog.SelectRecord(document.RecordAtOffset(*offset), true);
    // The element is selected as before; the caret then marks the byte itself
    // and brings it into view.
    m_dialog.HexView()->SetCaretByte(*offset);
    return true;
}

}  // namespace quillon
