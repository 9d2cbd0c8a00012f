// A Windows bundle's own Contents/Resources/moduleinfo.json (VST 3.7.5 and
// later ship one): its classes and factory info, read without Wine.
#pragma once

#include "reader.h"

#include <string>

namespace quillmarlow {

// False when the bundle has none, or none that lists an audio class. What
// it cannot say, sync records as unknown: the buses (none recorded) and
// which controller each component names (its controller class when the
// module has one, else the one named after it or listed next after it;
// outpost asks the component itself when it serves it).
bool classesFromModuleInfo (const std::string& bundle, ModuleClasses& answer);

} // namespace quillmarlow
