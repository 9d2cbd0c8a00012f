// The commands of quillmarlow.
#pragma once

#include <string>

namespace quillmarlow {

struct Options
{
	std::string prefix; // the Wine prefix
	std::string dir;    // the VST 3 folder the bundles go into
};

int syncCommand (const Options& options);
int listCommand (const Options& options);
int doctorCommand (const Options& options);

} // namespace quillmarlow
