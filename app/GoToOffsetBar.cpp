#include "app/GoToOffsetBar.h"

#include <QLineEdit>

#include "app/CQuillonDlg.h"
#include "document/ElementSearch.h"

namespace quillon {

GoToOffsetBar::GoToOffsetBar(CQuillonDlg& dialog)
    : InputBar(QStringLiteral("Go to offset:"), QStringLiteral("goToOffsetBar"), &dialog), m_dialog(dialog) {
    Edit()->setPlaceholderText(QStringLiteral("1234, 0x4D2 or 4D2h"));
    connect(this, &InputBar::Submitted, this, [this](const QString& text) {
        if (Go(text)) Close();
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
    return true;
}

}  // namespace quillon
