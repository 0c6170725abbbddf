#pragma once
// The copy actions of the tree's and the property list's context menu, for
// the selected element: the value's whole text, its bytes as hex (header and
// value, at most 16 MiB), its tag offset and its byte range. Each returns a
// message for the user, empty when there is nothing to say.
#include <QString>

namespace quillon {

class CQuillonDlg;

QString CopyValueText(CQuillonDlg& dialog);
QString CopyElementBytes(CQuillonDlg& dialog);
QString CopyTagOffset(CQuillonDlg& dialog);
QString CopyByteRange(CQuillonDlg& dialog);

// The hex view's marked range (the caret's byte without one; at most 16 MiB),
// as hex text (two digits a byte, 16 to a line) or as its raw bytes taken as
// Latin-1 text (the bytes themselves also go along as application/octet-stream).
QString CopyRangeHex(CQuillonDlg& dialog);
QString CopyRangeText(CQuillonDlg& dialog);

}  // namespace quillon
