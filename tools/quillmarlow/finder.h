// Finding the Windows VST 3 plug-ins of a Wine prefix: bundle folders
// (X.vst3/Contents/x86_64-win/*.vst3) and single module files, in
// sub-folders too, each checked to be a 64-bit Windows module before any
// Wine starts.
#pragma once

#include <string>
#include <vector>

namespace quillmarlow {

struct FoundPlugin
{
	std::string source;        // the bundle folder or module file
	std::string relative;      // its path below the VST3 folder, for lines
	std::string module;        // the module file (empty when skipped)
	std::string windowsModule; // the module as Windows names it
	std::string stem;          // the plug-in's name: "X" of X.vst3
	std::string skipped;       // why it cannot be served; empty when it can
};

struct FoundPlugins
{
	std::vector<FoundPlugin> plugins;
	// Folders that could not be read: bundles made from below them are
	// kept, whatever this run found.
	std::vector<std::string> unreadable;
};

// Plug-ins under `vst3Folder`, which lies in the prefix's drive_c, sorted
// by their relative path.
FoundPlugins findPlugins (const std::string& prefix, const std::string& vst3Folder);

// Empty when `path` is a 64-bit Windows module, or else why it is not one.
std::string checkWindowsModule (const std::string& path);

} // namespace quillmarlow
