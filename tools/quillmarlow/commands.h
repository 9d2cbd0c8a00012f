// The commands of quillmarlow.
#pragma once

#include <string>
#include <vector>

namespace quillmarlow {

struct Options
{
	std::string prefix; // the Wine prefix
	std::string dir;    // the VST 3 folder the bundles go into
};

int syncCommand (const Options& options);
int listCommand (const Options& options);
int doctorCommand (const Options& options);
// Sets `group` (empty: clears it) in the records of `bundles`.
int groupCommand (const Options& options, const std::string& group, const std::vector<std::string>& bundles);

} // namespace quillmarlow
