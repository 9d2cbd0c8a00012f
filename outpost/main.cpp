#include "application.h"
#include "crash_report.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

int main(int argc, char** argv) {
    // Lines end in a plain newline: the Linux side reads them, not a console.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    Tandem::installCrashReport(argc > 2 ? argv[2] : "");
    return Tandem::outpostMain(argc, argv);
}
