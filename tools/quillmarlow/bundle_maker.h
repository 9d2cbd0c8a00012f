// Writing a made bundle: X.vst3 with a copy of the bridge's library (named
// after the bundle), outpost.exe, the record of what it serves and the
// moduleinfo.json that hosts read instead of loading it. The bundle is
// written under a temporary name and renamed when complete, so that a host
// never sees half a bundle and an interrupted sync leaves none.
#pragma once

#include "plugin/served_record.h"

#include <string>

namespace quillmarlow {

struct Bridge
{
	std::string bundle;  // the QuillMarlow.vst3 the made bundles copy
	std::string library; // its Contents/x86_64-linux/QuillMarlow.so
	std::string outpost; // its Contents/Resources/outpost.exe
	std::string id;      // size and time of the library
};

// The installed bridge (<exe>/../lib/quillmarlow/QuillMarlow.vst3) or the
// build tree's; false when neither is complete.
bool findBridge (Bridge& bridge, std::string& error);

// Makes (or replaces) `dir`/`name`.vst3; false with the reason.
bool makeBundle (const Bridge& bridge, const std::string& dir, const std::string& name,
                 const Tandem::ServedRecord& record, std::string& error);

// The moduleinfo.json of a made bundle, in the VST 3 SDK's format.
std::string moduleInfoJson (const std::string& name, const Tandem::ServedRecord& record);

} // namespace quillmarlow
