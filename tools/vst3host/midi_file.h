// Standard MIDI files, read and written through libsmf: every event of
// every track at its time in seconds (the file's tempo map applied).
#pragma once

#include <string>
#include <vector>

namespace vst3host {

struct TimedMidi
{
	double seconds = 0;
	std::vector<unsigned char> bytes; // one message: status and data, or a whole SysEx (F0 ... F7)
};

// The channel and SysEx messages of a file, in time order (meta events
// such as tempo and track names are left out), and how long it lasts.
bool readMidiFile (const std::string& path, std::vector<TimedMidi>& events, double& lengthSeconds, std::string& error);

// A format-0 file of `events` (in time order) at 120 beats a minute.
bool writeMidiFile (const std::string& path, const std::vector<TimedMidi>& events, std::string& error);

} // namespace vst3host
