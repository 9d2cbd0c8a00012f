// The bundles in a VST 3 folder: those that sync made (with their records)
// and the others, whose names and class ids sync must leave alone.
#pragma once

#include "plugin/served_record.h"

#include <map>
#include <string>
#include <vector>

namespace quillmarlow {

struct MadeBundle
{
	std::string name; // "X" of X.vst3
	std::string path;
	Tandem::ServedRecord record;
};

struct BundlesInDir
{
	std::vector<MadeBundle> made;
	// Bundle names (as "X.vst3") that sync did not make.
	std::vector<std::string> others;
};

BundlesInDir bundlesIn (const std::string& dir);

// Class ids of the bundles sync did not make, from their moduleinfo.json
// or, where they have none, from their factory (read in a child process,
// bounded, so that a broken plug-in cannot take sync down); id -> bundle.
std::map<std::string, std::string> nativeClassIds (const std::string& dir, const std::vector<std::string>& others);

} // namespace quillmarlow
