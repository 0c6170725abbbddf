#include "app/CopyActions.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "app/CQuillonDlg.h"
#include "app/MessageBox.h"
#include "document/ByteSearch.h"
#include "document/ElementSearch.h"
#include "hexview/MCWndHexEditor.h"

namespace quillon {

namespace {

const QString kNoElement = QStringLiteral("No element is selected");

void SetClipboard(const QString& text) { QGuiApplication::clipboard()->setText(text); }

// The marked range, or the caret's byte; empty with neither.
ByteRange MarkedBytes(CQuillonDlg& dialog) {
    const MCWndHexEditor* view = dialog.HexView();
    const ByteRange range = view->GetRange();
    return range.Empty() ? RangeBetween(view->GetCaretByte(), view->GetCaretByte()) : range;
}

QString CutMessage(quint64 copied, quint64 total) {
    if (copied >= total) return {};
    return QStringLiteral("Copied the first %1 of %2 bytes (16 MiB)").arg(copied).arg(total);
}

// Reads the marked bytes (up to the copy limit): a message when there are none,
// else empty, with `total` the length of the whole mark.
QString ReadMarked(CQuillonDlg& dialog, std::vector<uint8_t>& bytes, quint64& total) {
    const ByteRange marked = MarkedBytes(dialog);
    if (marked.Empty()) return QStringLiteral("No bytes are marked");
    {
        WaitCursor wait;
        bytes = ReadRange(dialog.Document(), marked.first, marked.last, kCopyBytesLimit);
    }
    if (bytes.empty()) return QStringLiteral("The bytes cannot be read");
    total = marked.Length();
    return {};
}

}  // namespace

QString CopyRangeHex(CQuillonDlg& dialog) {
    std::vector<uint8_t> bytes;
    quint64 total = 0;
    if (QString why = ReadMarked(dialog, bytes, total); !why.isEmpty()) return why;
    const HexText hex = BytesHex(bytes.data(), bytes.size(), 0, bytes.size() - 1, kCopyBytesLimit);
    SetClipboard(QString::fromLatin1(hex.text.data(), qsizetype(hex.text.size())));
    return CutMessage(bytes.size(), total);
}

QString CopyRangeText(CQuillonDlg& dialog) {
    std::vector<uint8_t> bytes;
    quint64 total = 0;
    if (QString why = ReadMarked(dialog, bytes, total); !why.isEmpty()) return why;
    const QByteArray raw(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    auto* mime = new QMimeData;
    mime->setText(QString::fromLatin1(raw));
    mime->setData(QStringLiteral("application/octet-stream"), raw);
    QGuiApplication::clipboard()->setMimeData(mime);
    return CutMessage(bytes.size(), total);
}

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
