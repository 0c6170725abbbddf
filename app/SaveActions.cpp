#include "app/SaveActions.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>

#include <filesystem>
#include <functional>

#include "app/CQuillonDlg.h"
#include "app/MessageBox.h"
#include "dicom/TransferSyntax.h"
#include "document/QuillonDocument.h"
#include "document/SavedBytes.h"
#include "image/MCImage.h"

namespace quillon {

namespace {

const QString kNoElement = QStringLiteral("No element is selected.");
const QString kNoFrame = QStringLiteral("The selected element belongs to no frame.");

std::optional<std::size_t> SelectedFrame(CQuillonDlg& dialog) {
    const auto record = dialog.CurrentRecord();
    if (!record) return std::nullopt;
    return dialog.Document().Properties(*record).thumbnail;
}

// Writes `path` through `fill`, which tells why it failed; the file appears
// only when all of it was written (a full disk leaves no half file behind).
QString SaveThrough(const QString& path, const std::function<bool(QSaveFile&, QString&)>& fill) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    if (QString why; !fill(file, why)) {
        file.cancelWriting();
        return QStringLiteral("Cannot write %1: %2").arg(path, why);
    }
    if (!file.commit()) return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    return {};
}

// Writes what `fill` gives to `path`.
QString WriteFile(const QString& path, const std::function<bool(const ByteSink&, std::string&)>& fill) {
    return SaveThrough(path, [&](QSaveFile& file, QString& why) {
        std::string error;
        bool writeFailed = false;
        const bool filled = fill(
            [&](const uint8_t* data, std::size_t size) {
                if (file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size)) return true;
                writeFailed = true;
                return false;
            },
            error);
        if (!filled) why = writeFailed ? file.errorString() : QString::fromStdString(error);
        return filled;
    });
}

QString DocumentFolder(CQuillonDlg& dialog) {
    return QFileInfo(QString::fromStdU16String(dialog.Document().Path())).absolutePath();
}

std::filesystem::path DocumentPath(CQuillonDlg& dialog) { return std::filesystem::path(dialog.Document().Path()); }

void Ask(CQuillonDlg& dialog, const QString& caption, const QString& name, const QString& filter,
         QString (*save)(CQuillonDlg&, const QString&)) {
    const QString path =
        QFileDialog::getSaveFileName(&dialog, caption, DocumentFolder(dialog) + QLatin1Char('/') + name, filter);
    if (path.isEmpty()) return;
    const QString error = save(dialog, path);
    if (!error.isEmpty()) ShowErrorBox(&dialog, error);
}

}  // namespace

QString SaveValueTo(CQuillonDlg& dialog, const QString& path) {
    const auto record = dialog.CurrentRecord();
    if (!record) return kNoElement;
    const QuillonDocument& doc = dialog.Document();
    return WriteFile(
        path, [&](const ByteSink& write, std::string& error) { return WriteValueBytes(doc, *record, write, error); });
}

QString SaveFrameTo(CQuillonDlg& dialog, const QString& path) {
    const auto frame = SelectedFrame(dialog);
    if (!frame) return kNoFrame;
    const QuillonDocument& doc = dialog.Document();
    return WriteFile(
        path, [&](const ByteSink& write, std::string& error) { return WriteFrameBytes(doc, *frame, write, error); });
}

QString SavePictureTo(CQuillonDlg& dialog, const QString& path) {
    const auto frame = SelectedFrame(dialog);
    if (!frame) return kNoFrame;
    Status why;
    std::unique_ptr<MCImage> picture;
    {
        WaitCursor wait;
        picture = FramePicture(dialog.Document(), *frame, why);
    }
    if (!picture)
        return QStringLiteral("Frame %1 cannot be decoded: %2").arg(*frame + 1).arg(QString::fromStdString(why.Text()));
    const QImage image(picture->GetBits(), int(picture->GetWidth()), int(picture->GetHeight()),
                       qsizetype(picture->GetWidth()) * 3, QImage::Format_RGB888);
    return SaveThrough(path, [&](QSaveFile& file, QString& why) {
        if (image.save(&file, "PNG")) return true;
        why =
            file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("the picture cannot be encoded");
        return false;
    });
}

bool HasSelectedFrame(CQuillonDlg& dialog) { return SelectedFrame(dialog).has_value(); }

void AskSaveValue(CQuillonDlg& dialog) {
    const auto record = dialog.CurrentRecord();
    if (!record) return;
    const QString stem = QString::fromStdString(DocumentPath(dialog).stem().string());
    Ask(dialog, QStringLiteral("Save Value As"), stem + QStringLiteral("-value.bin"), QStringLiteral("All files (*)"),
        SaveValueTo);
}

void AskSaveFrame(CQuillonDlg& dialog) {
    const auto frame = SelectedFrame(dialog);
    if (!frame) return;
    const std::string_view extension = FrameFileExtension(TransferSyntaxFamily(dialog.Document().File()->DataSet()));
    const QString name = QString::fromStdString(FrameFileName(DocumentPath(dialog), *frame, extension));
    Ask(dialog, QStringLiteral("Save Frame As"), name,
        QStringLiteral("Frame (*%1);;All files (*)")
            .arg(QString::fromLatin1(extension.data(), qsizetype(extension.size()))),
        SaveFrameTo);
}

void AskSavePicture(CQuillonDlg& dialog) {
    const auto frame = SelectedFrame(dialog);
    if (!frame) return;
    const QString name = QString::fromStdString(FrameFileName(DocumentPath(dialog), *frame, ".png"));
    Ask(dialog, QStringLiteral("Save Picture As"), name, QStringLiteral("PNG pictures (*.png);;All files (*)"),
        SavePictureTo);
}

}  // namespace quillon
