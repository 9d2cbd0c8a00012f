// The served plug-in's buses as the host's: the list the host is given, the
// host's calls that change it carried to the served component, and the list
// read back from outpost. The calls that change buses reach the served
// component once outpost runs, and are given again to a restarted one.
#pragma once

#include "plugin/served_buses.h"

#include "protocol/bus_data.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace Tandem {
class SharedMemoryCreator;
} // namespace Tandem

namespace Steinberg {
namespace QuillMarlow {

class OutpostLifecycle;

class HostBuses
{
public:
	using Stopping = std::function<bool ()>;

	// `slotLock` is taken by every poster into the command slot.
	HostBuses (const int32& instanceId, const Tandem::SharedMemoryCreator& file, const OutpostLifecycle& outpost,
	           std::mutex& slotLock);

	// The buses known without outpost (a made bundle's record, else a stereo
	// effect's), and nothing the host set.
	void reset (const ServedTarget& served);

	// The host's calls, in the order of IComponent and IAudioProcessor.
	int32 getBusCount (Vst::MediaType type, Vst::BusDirection dir);
	tresult getBusInfo (Vst::MediaType type, Vst::BusDirection dir, int32 index, Vst::BusInfo& bus);
	tresult getRoutingInfo (Vst::RoutingInfo& inInfo, Vst::RoutingInfo& outInfo);
	tresult activateBus (Vst::MediaType type, Vst::BusDirection dir, int32 index, TBool state);
	tresult setIoMode (Vst::IoMode mode);
	// `startOutpost` runs when the served plug-in must decide (a layout the
	// host does not have yet).
	tresult setBusArrangements (Vst::SpeakerArrangement* inputs, int32 numIns, Vst::SpeakerArrangement* outputs,
	                            int32 numOuts, const std::function<void ()>& startOutpost);
	tresult getBusArrangement (Vst::BusDirection dir, int32 index, Vst::SpeakerArrangement& arr);
	tresult canProcessSampleSize (int32 symbolicSampleSize);

	// Reads outpost's list; true when the host's buses changed.
	bool readFromOutpost ();
	// After a launch: the host's bus calls given to the new outpost, then its
	// buses read; a host whose buses changed is told (changes ()).
	void adoptServed (const Stopping& stopping);
	// How often the buses changed without the host being told.
	int32 changes () const { return changes_.load (); }
	// For the audio thread: the event buses each way.
	int32 eventInputs () const { return eventInputs_.load (std::memory_order_relaxed); }
	int32 eventOutputs () const { return eventOutputs_.load (std::memory_order_relaxed); }

private:
	// A bus command through the command slot: `fill` writes the arguments;
	// false when outpost gave no answer.
	bool command (
	    int32 code, const std::function<void (Tandem::BusRequest&)>& fill, Tandem::BusRequest* answer = nullptr,
	    const Stopping& stopping = [] { return false; });
	// The caller holds lock_.
	void takeLocked (ServedBuses&& buses);

	const int32& instanceId_;
	const Tandem::SharedMemoryCreator& file_;
	const OutpostLifecycle& outpost_;
	std::mutex& slotLock_;

	// The buses the host is given (guarded by lock_), and what the host set,
	// given again to a restarted outpost. commandLock_ serialises the bus
	// commands; taken before lock_, never on the audio thread.
	std::mutex lock_;
	std::mutex commandLock_;
	ServedBuses buses_;
	bool hostArranged_ = false;
	struct Activation
	{
		int32 kind;
		int32 index;
		bool state;
	};
	std::vector<Activation> hostActivations_;
	std::vector<Vst::SpeakerArrangement> hostInputs_, hostOutputs_;
	std::atomic<int32> hostIoMode_ {-1};
	std::atomic<int32> changes_ {0};
	std::atomic<int32> eventInputs_ {0};
	std::atomic<int32> eventOutputs_ {0};
};

} // namespace QuillMarlow
} // namespace Steinberg
