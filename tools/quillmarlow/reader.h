// Reading the classes of Windows modules under Wine: outpost.exe's listing
// mode reads them all in one start. A module that hangs (10 s) or crashes
// is reported as such, and the listing goes on after it in a new start.
#pragma once

#include "plugin/served_record.h"

#include <functional>
#include <string>
#include <vector>

namespace quillmarlow {

struct ModuleClasses
{
	bool ok = false;
	std::string error; // why not, when not ok
	Tandem::ServedFactoryInfo factory;
	std::vector<Tandem::ServedClass> classes;
};

struct ReadRequest
{
	std::string wine = "/usr/bin/wine";
	std::string outpost; // outpost.exe
	std::string prefix;
	std::vector<std::string> windowsModules;
	// Called as each module's answer arrives (index, answer).
	std::function<void (size_t, const ModuleClasses&)> progress;
};

// One answer per module, in the request's order; false (with `error`) when
// Wine could not run outpost.exe at all.
bool readModules (const ReadRequest& request, std::vector<ModuleClasses>& answers, std::string& error);

} // namespace quillmarlow
