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

    // Runs the main dialog and gives the process's exit code: 0, or 1 when
    // the dialog ended with a negative result (it could not be set up).
    int InitInstance();
};

}  // namespace quillon
