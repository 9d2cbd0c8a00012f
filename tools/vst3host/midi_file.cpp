#include "midi_file.h"

#include <smf.h>

#include <memory>

namespace vst3host {

namespace {

struct SmfDeleter
{
	void operator() (smf_t* smf) const { smf_delete (smf); }
};
using Smf = std::unique_ptr<smf_t, SmfDeleter>;

} // namespace

bool readMidiFile (const std::string& path, std::vector<TimedMidi>& events, double& lengthSeconds, std::string& error)
{
	Smf smf (smf_load (path.c_str ()));
	if (!smf)
	{
		error = "cannot read " + path + ": not a standard MIDI file";
		return false;
	}
	events.clear ();
	smf_rewind (smf.get ());
	while (smf_event_t* event = smf_get_next_event (smf.get ()))
	{
		if (smf_event_is_metadata (event) || event->midi_buffer_length < 1)
			continue;
		TimedMidi timed;
		timed.seconds = event->time_seconds;
		timed.bytes.assign (event->midi_buffer, event->midi_buffer + event->midi_buffer_length);
		events.push_back (std::move (timed));
	}
	lengthSeconds = smf_get_length_seconds (smf.get ());
	return true;
}

bool writeMidiFile (const std::string& path, const std::vector<TimedMidi>& events, std::string& error)
{
	Smf smf (smf_new ());
	smf_track_t* track = smf ? smf_track_new () : nullptr;
	if (!track)
	{
		error = "cannot make a MIDI file";
		return false;
	}
	smf_add_track (smf.get (), track);
	for (const TimedMidi& timed : events)
	{
		std::vector<unsigned char> bytes = timed.bytes;
		smf_event_t* event = smf_event_new_from_pointer (bytes.data (), static_cast<int> (bytes.size ()));
		if (!event)
			continue;
		smf_track_add_event_seconds (track, event, timed.seconds);
	}
	if (smf_save (smf.get (), path.c_str ()) != 0)
	{
		error = "cannot write " + path;
		return false;
	}
	return true;
}

} // namespace vst3host
