// The served plug-in's buses as the host sees them: the ones the processor
// answers with from its initialisation (before outpost runs: a host's scan
// starts no Wine), and the ones outpost reads from the served component.
#pragma once

#include "protocol/bus_data.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"

#include <vector>

namespace Steinberg {
namespace QuillMarlow {

struct ServedBus
{
	Vst::BusInfo info;
	Vst::SpeakerArrangement arrangement; // audio buses
	bool active;
};

struct ServedBuses
{
	// Indexed by Tandem::BusKind.
	std::vector<ServedBus> kinds[Tandem::kBusKinds];
	int32 sampleSizes = Tandem::kTakes32;

	int32 count (int32 kind) const { return static_cast<int32> (kinds[kind].size ()); }
	// Null when there is no such bus.
	const ServedBus* find (Vst::MediaType type, Vst::BusDirection dir, int32 index) const;
	ServedBus* find (Vst::MediaType type, Vst::BusDirection dir, int32 index);
	// Channels of all the audio buses of one direction.
	int32 channels (Vst::BusDirection dir) const;
};

struct ServedTarget;

// The buses the host is given before outpost has read the served ones: the
// served plug-in's as far as they are known without running it, from a
// made bundle's record (`target`), else a stereo effect's.
ServedBuses initialServedBuses (const ServedTarget& target);

// The list outpost wrote; false when no consistent one could be read.
bool readServedBuses (const Tandem::BusList& list, ServedBuses& buses);

// Whether the host would see the same buses (active states aside).
bool sameBuses (const ServedBuses& a, const ServedBuses& b);

inline int32 busKind (Vst::MediaType type, Vst::BusDirection dir)
{
	return (type == Vst::kEvent ? Tandem::kEventInputs : Tandem::kAudioInputs) + (dir == Vst::kOutput ? 1 : 0);
}

} // namespace QuillMarlow
} // namespace Steinberg
