#include "app/FindBar.h"

#include <QLineEdit>

#include "app/CQuillonDlg.h"
#include "app/MessageBox.h"
#include "document/ElementSearch.h"

namespace quillon {

FindBar::FindBar(CQuillonDlg& dialog)
    : InputBar(QStringLiteral("Find:"), QStringLiteral("findBar"), &dialog), m_dialog(dialog) {
    Edit()->setPlaceholderText(QStringLiteral("tag, name or value"));
    connect(this, &InputBar::Submitted, this, [this](const QString& text) { FindNext(text); });
}

bool FindBar::FindNext(const QString& text) {
    if (text.trimmed().isEmpty()) return false;
    quillon::QuillonDocument& document = m_dialog.Document();
    if (!document.IsOpen()) {
        ShowMessage(QStringLiteral("No file is open"));
        return false;
    }
    FindResult found;
    {
        WaitCursor wait;
        found = quillon::FindNext(document, m_dialog.CurrentRecord(), text.toStdU16String());
    }
    if (!found.record) {
        ShowMessage(QStringLiteral("Not found"));
        return false;
    }
    m_dialog.SelectRecord(found.record, true);
    ShowMessage(found.wrapped ? QStringLiteral("Wrapped to the top") : QString());
    return true;
}

}  // namespace quillon
