// outpost's listing mode, for `quillmarlow sync`: reads the classes of many
// modules in one Wine start. Each module's factory (IPluginFactory 1 to 3)
// is read, every audio class's component is created to ask its controller,
// buses and sample sizes, and one JSON line per module is appended to the
// output. A module that takes longer than 10 s or crashes ends the lister
// after a line that says so; the caller starts it again after that module.
#pragma once

namespace Tandem {

// outpost.exe --list LIST OUTPUT FIRST: LIST holds one module path per
// line (UTF-8, as Windows paths); modules from index FIRST on are read.
int listModules (int argc, char** argv);

} // namespace Tandem
