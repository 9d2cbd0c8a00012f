// What one audio class of a made bundle serves: the module and class that
// its processor's outpost loads and creates, and the class's controller.
#pragma once

#include "plugin/served_record.h"

#include "pluginterfaces/base/funknown.h"

#include <string>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

struct ServedTarget
{
	std::string prefix;        // Wine prefix of the module
	std::string module;        // Linux path of the module file
	std::string windowsModule; // the same, as outpost loads it
	std::string classId;       // the audio class, 32 hex digits
	std::string group;         // the group it is served in; empty: none
	FUID controller;           // the Linux controller class the processor names
	std::vector<Tandem::ServedBus> buses;
	bool sample64 = false;
};

} // namespace QuillMarlow
} // namespace Steinberg
