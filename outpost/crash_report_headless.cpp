#include "crash_report.h"

namespace Tandem {

// Native builds (tests, fuzz targets) install no crash report.
void nameCrashInstance (const char*) {}

} // namespace Tandem
