#include "app/FindBar.h"

#include <QLineEdit>

#include "app/CQuillonDlg.h"
#include "app/MessageBox.h"
#include "dicom/FileBytes.h"
#include "document/ByteSearch.h"
#include "document/ElementSearch.h"
#include "hexview/MCWndHexEditor.h"

namespace quillon {

FindBar::FindBar(CQuillonDlg& dialog)
    : InputBar(QStringLiteral("Find:"), QStringLiteral("findBar"), &dialog), m_dialog(dialog) {
    Edit()->setPlaceholderText(QStringLiteral("tag, name, value or bytes FE FF 00 E0"));
    connect(this, &InputBar::Submitted, this, [this](const QString& text) { FindNext(text); });
}

FindBar::~FindBar() { EndSearch(); }

bool FindBar::FindNext(const QString& text) {
    if (text.trimmed().isEmpty()) return false;
    quillon::QuillonDocument& document = m_dialog.Document();
    if (!document.IsOpen()) {
        ShowMessage(QStringLiteral("No file is open"));
        return false;
    }
    if (const auto pattern = ParseHexPattern(text.toStdU16String())) {
        FindBytes(*pattern);
        return true;
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

void FindBar::EndSearch() {
    if (!m_thread) return;
    ++m_searchCount;
    m_cancel->store(true);
    // The search looks at the flag between blocks: this returns at once.
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void FindBar::FindBytes(const std::vector<uint8_t>& pattern) {
    EndSearch();
    quillon::QuillonDocument& document = m_dialog.Document();
    const std::shared_ptr<FileBytes> bytes = document.Source();
    if (!bytes) return;
    const quint64 caret = m_dialog.HexView()->GetCaretByte();
    const uint64_t from = caret == MCWndHexEditor::kNone ? 0 : caret + 1;
    const uint64_t size = document.DataSize();

    auto cancel = std::make_shared<std::atomic<bool>>(false);
    auto result = std::make_shared<ByteFindResult>();
    m_cancel = cancel;
    ShowMessage(QStringLiteral("Searching..."));
    m_thread = QThread::create([bytes, size, from, pattern, cancel, result] {
        *result = quillon::FindBytes(*bytes, size, from, pattern, cancel.get());
    });
    QThread* thread = m_thread;
    const quint64 search = ++m_searchCount;
    connect(thread, &QThread::finished, this, [this, thread, search, bytes, result, length = pattern.size()] {
        // A search ended by EndSearch has been waited for and deleted there
        // (its thread's address may even have been reused since).
        if (search != m_searchCount || thread != m_thread) return;
        m_thread = nullptr;
        thread->deleteLater();
        // The document it searched may have been closed or replaced since.
        if (m_dialog.Document().Source() != bytes) {
            ShowMessage(QString());
            emit BytesSearched(false);
            return;
        }
        ShowBytesFound(*result, length);
    });
    thread->start();
}

void FindBar::ShowBytesFound(const ByteFindResult& result, std::size_t length) {
    if (!result.offset) {
        ShowMessage(result.readFailed ? QStringLiteral("The file cannot be read") : QStringLiteral("Not found"));
        emit BytesSearched(false);
        return;
    }
    const uint64_t at = *result.offset;
    quillon::QuillonDocument& document = m_dialog.Document();
    m_dialog.SelectRecord(document.RecordAtOffset(at), true);
    // The match as the marked range, the caret on its first byte.
    MCWndHexEditor* view = m_dialog.HexView();
    view->SetCaretByte(at + length - 1);
    view->SetCaretByte(at, true);
    const QString where = QStringLiteral("at %1 (0x%2)").arg(at).arg(QString::number(at, 16).toUpper());
    ShowMessage(result.wrapped ? QStringLiteral("Wrapped to the top: ") + where : QStringLiteral("Found ") + where);
    emit BytesSearched(true);
}

}  // namespace quillon
