// The doctor's test start: the project's own test plug-in (installed beside
// the bridge) read under Wine, made into a bundle in a scratch folder as
// sync makes one, and served by that bundle as a host serves it: loaded,
// activated (which starts outpost under Wine in the prefix) and given a
// block of sound, which must come back processed.
#pragma once

#include "bundle_maker.h"

#include <string>

namespace quillmarlow {

struct TestStartResult
{
	bool ok = false;
	std::string error;       // what failed, when not ok
	double readSeconds = 0;  // reading the plug-in's classes under Wine
	double serveSeconds = 0; // from activation to the first processed block
	std::string log;         // the bridge's lines, kept when it failed
};

TestStartResult testStart (const Bridge& bridge, const std::string& prefix, const std::string& module);

} // namespace quillmarlow
