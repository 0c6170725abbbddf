#include "app/CopyActions.h"

#include <QClipboard>
#include <QGuiApplication>

#include "app/CQuillonDlg.h"
#include "app/MessageBox.h"
#include "document/ElementSearch.h"

namespace quillon {

namespace {

const QString kNoElement = QStringLiteral("No element is selected");

void SetClipboard(const QString& text) { QGuiApplication::clipboard()->setText(text); }

}  // namespace

QString CopyValueText(CQuillonDlg& dialog) {
    const auto record = dialog.CurrentRecord();
    if (!record) return kNoElement;
    const auto text = FullValueText(dialog.Document(), *record);
    if (!text) return QStringLiteral("The value is binary data: copy its bytes instead");
    SetClipboard(QString::fromStdU16String(*text));
    return {};
}

QString CopyElementBytes(CQuillonDlg& dialog) {
    const auto record = dialog.CurrentRecord();
    if (!record) return kNoElement;
    HexText hex;
    {
        WaitCursor wait;
        hex = ElementBytesHex(dialog.Document(), *record);
    }
    SetClipboard(QString::fromLatin1(hex.text.data(), qsizetype(hex.text.size())));
    if (hex.cut) {
        return QStringLiteral("Copied the first %1 of %2 bytes (16 MiB)").arg(hex.bytes).arg(hex.total);
    }
    return {};
}

QString CopyTagOffset(CQuillonDlg& dialog) {
    const auto record = dialog.CurrentRecord();
    if (!record) return kNoElement;
    SetClipboard(QString::fromStdU16String(TagOffsetText(dialog.Document(), *record)));
    return {};
}

QString CopyByteRange(CQuillonDlg& dialog) {
    const auto record = dialog.CurrentRecord();
    if (!record) return kNoElement;
    SetClipboard(QString::fromStdU16String(ByteRangeText(dialog.Document(), *record)));
    return {};
}

}  // namespace quillon
