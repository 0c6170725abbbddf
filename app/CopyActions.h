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

}  // namespace quillon
