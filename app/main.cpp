// quillon: the byte-layout viewer for DICOM files. No command-line arguments
// are read; files are opened from the window.
#include "app/CQuillonApp.h"

int main(int argc, char** argv) {
    quillon::CQuillonApp app(argc, argv);
    return app.InitInstance();
}
