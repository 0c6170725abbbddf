#include "app/CQuillonApp.h"

#include <QFileInfo>
#include <QScreen>
#include <QTimer>

#include "app/CQuillonDlg.h"
#include "app/QuillonResources.h"

namespace quillon {

CQuillonApp::CQuillonApp(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(QString::fromLatin1(kOrganisation));
    setApplicationName(QString::fromLatin1(kApplication));
    setApplicationDisplayName(QString::fromLatin1(kAppTitle));
    setWindowIcon(ApplicationIcon());
}

CQuillonApp::~CQuillonApp() = default;

int CQuillonApp::InitInstance(const QString& file) {
    // No message loop after the dialog: the application ends with it.
    CQuillonDlg dialog;
    PrepareDialog(dialog, file);
    const int result = dialog.exec();
    return result < 0 ? 1 : 0;
}

void CQuillonApp::PrepareDialog(CQuillonDlg& dialog, const QString& file) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) dialog.AllowResizing(screen->availableGeometry());
    if (!file.isEmpty()) {
        const QString path = QFileInfo(file).absoluteFilePath();
        QTimer::singleShot(0, &dialog, [&dialog, path] { dialog.OpenAndRemember(path); });
    }
}

}  // namespace quillon
