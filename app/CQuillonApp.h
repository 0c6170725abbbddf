#pragma once
// The application: names itself for the per-user settings, runs the main
// dialog modally and ends with it.
#include <QApplication>

namespace quillon {

class CQuillonApp : public QApplication {
    Q_OBJECT

public:
    CQuillonApp(int& argc, char** argv);
    ~CQuillonApp() override;

    // Runs the main dialog; its result is the process's exit code (0, or -1
    // when the dialog could not be set up). A file given on the command line
    // is opened once the dialog runs, as the Open button would open it.
    int InitInstance(const QString& file = QString());
};

}  // namespace quillon
