// quillon: the byte-layout viewer for DICOM files.
//   quillon [FILE]     opens FILE at start, as if it had been chosen with Open...
//   quillon --help | --version
#include <cstdio>
#include <cstring>

#include "app/CQuillonApp.h"

namespace {

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: quillon [FILE]\n"
                 "       quillon --help | --version\n"
                 "Shows how a DICOM file is laid out, byte by byte. FILE is opened at start\n"
                 "and enters the recent-files list, as if it had been chosen with Open...\n"
                 "\n"
                 "  --help      print this text and exit\n"
                 "  --version   print the version and exit\n");
}

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

int main(int argc, char** argv) {
    // --help and --version are answered before the window system is touched,
    // so that they work without a display.
    for (int i = 1; i < argc && !Is(argv[i], "--"); ++i) {
        if (Is(argv[i], "--help")) {
            PrintUsage(stdout);
            return 0;
        }
        if (Is(argv[i], "--version")) {
            std::printf("quillon %s\n", QUILLON_VERSION);
            return 0;
        }
    }
    // The application object takes Qt's own options (-platform, -style, ...)
    // out of the arguments; what is left is at most one file.
    quillon::CQuillonApp app(argc, argv);
    const char* file = nullptr;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && Is(arg, "--")) {
            options = false;
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "quillon: unknown option %s\n", arg);
            PrintUsage(stderr);
            return 2;
        } else if (file) {
            std::fprintf(stderr, "quillon: only one FILE can be opened\n");
            PrintUsage(stderr);
            return 2;
        } else {
            file = arg;
        }
    }
    return app.InitInstance(file ? QString::fromLocal8Bit(file) : QString());
}
