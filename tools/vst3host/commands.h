#pragma once

#include <string>

namespace vst3host {

struct ProcessOptions
{
	std::string bundle, input, output, saveState, loadState;
	std::string midi, midiOut; // MIDI files played in, and of what the plug-in sends
	std::string className;     // one class of a module with several; empty: the first
	int block = 512;
	double rate = 0;       // 0: the input file's rate
	bool realtime = false; // pace the blocks like live playback
};

struct EditorOptions
{
	std::string bundle, screenshot;
	double seconds = 5;
};

class Bundle;
// Loads the bundle, or says why not on standard error.
bool loadBundle (Bundle& bundle, const std::string& path);

int listCommand (const std::string& bundle);
int processCommand (const ProcessOptions& options);
int editorCommand (const EditorOptions& options);
int moduleInfoCommand (const std::string& bundle, const std::string& output);

} // namespace vst3host
