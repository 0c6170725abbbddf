#pragma once
// The application: names itself for the per-user settings, runs the main
// dialog modally and ends with it.
#include <QApplication>

namespace quillon {

class CQuillonDlg;

class CQuillonApp : public QApplication {
    Q_OBJECT

public:
    CQuillonApp(int& argc, char** argv);
    ~CQuillonApp() override;

    // Runs the main dialog and gives the process's exit code: 0, or 1 when
    // the dialog ended with a negative result (it could not be set up). A file given on the command line
    // is opened once the dialog runs, as the Open button would open it.
    int InitInstance(const QString& file = QString());

    // What the start does to the dialog before it runs: the window is made
    // resizable and no larger than the screen's available area, and `file`
    // (when not empty) is opened with its absolute path once events are
    // processed, as if it had been chosen with the Open button.
    static void PrepareDialog(CQuillonDlg& dialog, const QString& file);
};

}  // namespace quillon
