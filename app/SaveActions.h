#pragma once
// The save actions of the tree's and the property list's context menu:
// the selected element's value bytes, the stored bytes of the frame that a
// frame node or fragment belongs to, and that frame decoded at full size as
// a PNG picture (windowed as its thumbnail). Each Save...To writes to `path`
// and returns the reason it could not, empty on success; the Ask... entries
// offer a file dialog first and show a failure in a message box.
#include <QString>

namespace quillon {

class CQuillonDlg;

QString SaveValueTo(CQuillonDlg& dialog, const QString& path);
QString SaveFrameTo(CQuillonDlg& dialog, const QString& path);
QString SavePictureTo(CQuillonDlg& dialog, const QString& path);

// Whether the selection has a frame to save (a frame node or a fragment).
bool HasSelectedFrame(CQuillonDlg& dialog);

void AskSaveValue(CQuillonDlg& dialog);
void AskSaveFrame(CQuillonDlg& dialog);
void AskSavePicture(CQuillonDlg& dialog);

}  // namespace quillon
