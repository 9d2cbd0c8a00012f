#include "plugin/host_buses.h"

#include "plugin/command_slot.h"
#include "plugin/outpost_lifecycle.h"
#include "plugin/shared_memory.h"

#include "log/log.h"
#include "protocol/handshake.h"

#include <algorithm>

#include "pluginterfaces/vst/vstspeaker.h"

namespace Steinberg {
namespace QuillMarlow {

namespace {

// A bus command is a call into the served component: short.
constexpr auto kBusCommandTimeout = std::chrono::seconds (2);

int32 channelsOf (const Vst::SpeakerArrangement* arrangements, int32 count)
{
	int32 channels = 0;
	for (int32 i = 0; i < count; ++i)
		channels += Vst::SpeakerArr::getChannelCount (arrangements[i]);
	return channels;
}

} // namespace

HostBuses::HostBuses (const int32& instanceId, const Tandem::SharedMemoryCreator& file, const OutpostLifecycle& outpost,
                      std::mutex& slotLock)
: instanceId_ (instanceId), file_ (file), outpost_ (outpost), slotLock_ (slotLock)
{
}

void HostBuses::reset (const ServedTarget& served)
{
	std::lock_guard<std::mutex> lock (lock_);
	takeLocked (initialServedBuses (served));
	hostArranged_ = false;
	hostActivations_.clear ();
	hostIoMode_ = -1;
}

void HostBuses::takeLocked (ServedBuses&& buses)
{
	buses_ = std::move (buses);
	eventInputs_.store (buses_.count (Tandem::kEventInputs));
	eventOutputs_.store (buses_.count (Tandem::kEventOutputs));
}

int32 HostBuses::getBusCount (Vst::MediaType type, Vst::BusDirection dir)
{
	std::lock_guard<std::mutex> lock (lock_);
	if ((type != Vst::kAudio && type != Vst::kEvent) || (dir != Vst::kInput && dir != Vst::kOutput))
		return 0;
	return buses_.count (busKind (type, dir));
}

tresult HostBuses::getBusInfo (Vst::MediaType type, Vst::BusDirection dir, int32 index, Vst::BusInfo& bus)
{
	std::lock_guard<std::mutex> lock (lock_);
	const ServedBus* found = buses_.find (type, dir, index);
	if (!found)
		return kInvalidArgument;
	bus = found->info;
	return kResultTrue;
}

tresult HostBuses::getRoutingInfo (Vst::RoutingInfo& inInfo, Vst::RoutingInfo& outInfo)
{
	Tandem::BusRequest answer {};
	auto fill = [&] (Tandem::BusRequest& request) {
		request.routing[0] = inInfo.mediaType;
		request.routing[1] = inInfo.busIndex;
		request.routing[2] = inInfo.channel;
	};
	// Before outpost runs, as a plug-in without routing answers.
	if (!command (Tandem::kGetRoutingInfoCommand, fill, &answer))
		return kNotImplemented;
	outInfo.mediaType = answer.routing[3];
	outInfo.busIndex = answer.routing[4];
	outInfo.channel = answer.routing[5];
	return answer.result;
}

tresult HostBuses::activateBus (Vst::MediaType type, Vst::BusDirection dir, int32 index, TBool state)
{
	{
		std::lock_guard<std::mutex> lock (lock_);
		ServedBus* bus = buses_.find (type, dir, index);
		if (!bus)
			return kInvalidArgument;
		bus->active = state != 0;
		// The last call for each bus is what a new outpost is given.
		const int32 kind = busKind (type, dir);
		hostActivations_.erase (
		    std::remove_if (hostActivations_.begin (), hostActivations_.end (),
		                    [&] (const Activation& a) { return a.kind == kind && a.index == index; }),
		    hostActivations_.end ());
		hostActivations_.push_back ({kind, index, state != 0});
	}
	// Before outpost runs, the call waits for it (see adoptServedBuses).
	Tandem::BusRequest answer {};
	auto fill = [&] (Tandem::BusRequest& request) {
		request.mediaType = type;
		request.direction = dir;
		request.index = index;
		request.state = state ? 1 : 0;
	};
	if (!command (Tandem::kActivateBusCommand, fill, &answer))
		return kResultTrue;
	readFromOutpost ();
	return answer.result;
}

tresult HostBuses::setIoMode (Vst::IoMode mode)
{
	hostIoMode_ = mode;
	Tandem::BusRequest answer {};
	if (!command (
	        Tandem::kSetIoModeCommand, [mode] (Tandem::BusRequest& request) { request.ioMode = mode; }, &answer))
		return kResultOk;
	return answer.result;
}

tresult HostBuses::setBusArrangements (Vst::SpeakerArrangement* inputs, int32 numIns, Vst::SpeakerArrangement* outputs,
                                       int32 numOuts, const std::function<void ()>& startOutpost)
{
	if (numIns < 0 || numOuts < 0 || (numIns > 0 && !inputs) || (numOuts > 0 && !outputs))
		return kInvalidArgument;
	const int32 inChannels = numIns <= Tandem::kMaxAudioBuses ? channelsOf (inputs, numIns) : 0;
	const int32 outChannels = numOuts <= Tandem::kMaxAudioBuses ? channelsOf (outputs, numOuts) : 0;
	if (numIns > Tandem::kMaxAudioBuses || numOuts > Tandem::kMaxAudioBuses || inChannels > Tandem::kMaxBusChannels ||
	    outChannels > Tandem::kMaxBusChannels)
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] Refused a layout of " << numIns << " input buses ("
		                    << inChannels << " channels) and " << numOuts << " output buses (" << outChannels
		                    << " channels): the bridge carries at most " << Tandem::kMaxAudioBuses << " buses and "
		                    << Tandem::kMaxBusChannels << " channels each way";
		return kResultFalse;
	}
	{
		// The layout the host has already: nothing to ask (and no outpost to start).
		std::lock_guard<std::mutex> lock (lock_);
		bool same = numIns == buses_.count (Tandem::kAudioInputs) && numOuts == buses_.count (Tandem::kAudioOutputs);
		for (int32 i = 0; same && i < numIns; ++i)
			same = buses_.kinds[Tandem::kAudioInputs][i].arrangement == inputs[i];
		for (int32 i = 0; same && i < numOuts; ++i)
			same = buses_.kinds[Tandem::kAudioOutputs][i].arrangement == outputs[i];
		if (same)
			return kResultTrue;
	}
	// The served plug-in decides: it accepts, adapts or refuses.
	startOutpost ();
	auto fill = [&] (Tandem::BusRequest& request) {
		request.inputCount = numIns;
		request.outputCount = numOuts;
		for (int32 i = 0; i < numIns; ++i)
			request.inputs[i] = inputs[i];
		for (int32 i = 0; i < numOuts; ++i)
			request.outputs[i] = outputs[i];
	};
	Tandem::BusRequest answer {};
	if (!command (Tandem::kSetBusArrangementsCommand, fill, &answer))
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_
		                    << "] outpost did not answer the host's bus arrangement: refused";
		return kResultFalse;
	}
	const tresult result = answer.result;
	if (result == kResultTrue)
	{
		std::lock_guard<std::mutex> lock (lock_);
		hostArranged_ = true;
		hostInputs_.assign (inputs, inputs + numIns);
		hostOutputs_.assign (outputs, outputs + numOuts);
	}
	readFromOutpost ();
	return result;
}

tresult HostBuses::getBusArrangement (Vst::BusDirection dir, int32 index, Vst::SpeakerArrangement& arr)
{
	std::lock_guard<std::mutex> lock (lock_);
	const ServedBus* bus = buses_.find (Vst::kAudio, dir, index);
	if (!bus)
		return kInvalidArgument;
	arr = bus->arrangement;
	return kResultTrue;
}

tresult HostBuses::canProcessSampleSize (int32 symbolicSampleSize)
{
	std::lock_guard<std::mutex> lock (lock_);
	const int32 bit = symbolicSampleSize == Vst::kSample32   ? Tandem::kTakes32
	                  : symbolicSampleSize == Vst::kSample64 ? Tandem::kTakes64
	                                                         : 0;
	return (buses_.sampleSizes & bit) ? kResultTrue : kResultFalse;
}

bool HostBuses::command (int32 code, const std::function<void (Tandem::BusRequest&)>& fill, Tandem::BusRequest* answer,
                         const std::function<bool ()>& stopping)
{
	std::lock_guard<std::mutex> command (commandLock_);
	Tandem::UICommand* ui = file_.uiCommand ();
	Tandem::BusData* bus = file_.busData ();
	Tandem::fullFence ();
	if (!ui || !bus || !outpost_.running () || file_.audioData ()->audioReady.load (std::memory_order_relaxed) != 1)
		return false;
	fill (bus->request);
	const Deadline deadline = std::chrono::steady_clock::now () + kBusCommandTimeout;
	if (!postWhenFree (*ui, slotLock_, static_cast<Tandem::CommandCode> (code), deadline, stopping, false))
		return false;
	if (Tandem::awaitAcknowledgement (Tandem::slotVisit (*ui), deadline,
	                                  [&] { return stopping () || !outpost_.alive (); }) != Tandem::CommandTurn::Done)
		return false;
	if (answer)
		*answer = bus->request;
	return true;
}

bool HostBuses::readFromOutpost ()
{
	Tandem::BusData* bus = file_.busData ();
	ServedBuses read;
	// An outpost that has published nothing yet leaves the host's list alone.
	if (!bus || bus->list.sequence.load (std::memory_order_acquire) == 0 || !readServedBuses (bus->list, read))
		return false;
	std::lock_guard<std::mutex> lock (lock_);
	const bool changed = !sameBuses (buses_, read);
	takeLocked (std::move (read));
	return changed;
}

void HostBuses::adoptServed (const std::function<bool ()>& stopping)
{
	// What the host set, given again in the order it did.
	std::vector<Activation> activations;
	bool arranged = false;
	std::vector<Vst::SpeakerArrangement> inputs, outputs;
	{
		std::lock_guard<std::mutex> lock (lock_);
		activations = hostActivations_;
		arranged = hostArranged_;
		inputs = hostInputs_;
		outputs = hostOutputs_;
	}
	if (hostIoMode_ >= 0)
		command (
		    Tandem::kSetIoModeCommand, [this] (Tandem::BusRequest& r) { r.ioMode = hostIoMode_; }, nullptr, stopping);
	if (arranged)
		command (
		    Tandem::kSetBusArrangementsCommand,
		    [&] (Tandem::BusRequest& r) {
			    r.inputCount = static_cast<int32> (inputs.size ());
			    r.outputCount = static_cast<int32> (outputs.size ());
			    std::copy (inputs.begin (), inputs.end (), r.inputs);
			    std::copy (outputs.begin (), outputs.end (), r.outputs);
		    },
		    nullptr, stopping);
	for (const Activation& a : activations)
		command (
		    Tandem::kActivateBusCommand,
		    [&] (Tandem::BusRequest& r) {
			    r.mediaType = a.kind < Tandem::kEventInputs ? Vst::kAudio : Vst::kEvent;
			    r.direction = a.kind % 2 == 0 ? Vst::kInput : Vst::kOutput;
			    r.index = a.index;
			    r.state = a.state ? 1 : 0;
		    },
		    nullptr, stopping);
	if (readFromOutpost ())
	{
		Tandem::logInfo () << "[QuillMarlow #" << instanceId_
		                   << "] The served plug-in's buses differ from those the host was given: the host reads "
		                      "them again";
		changes_.fetch_add (1);
	}
}

} // namespace QuillMarlow
} // namespace Steinberg
