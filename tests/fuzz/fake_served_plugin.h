// A served plug-in for the fuzz targets, without mocks (they would cost more
// than the code under test): one component that is also its audio
// processor. It halves every sample it is given, hands out a state of a size
// chosen by the input, and keeps the last state it was given.
#pragma once

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "protocol/tandem_protocol.h"

#include <cstring>
#include <vector>

namespace fuzzplug {

using namespace Steinberg;
using namespace Steinberg::Vst;

struct Behaviour
{
	bool processFails = false;
	bool setupFails = false;
	std::int32_t stateSize = 0; // bytes getState writes
	std::uint8_t stateFill = 0;
};

class Component : public IComponent, public IAudioProcessor
{
public:
	explicit Component (const Behaviour& b) : behaviour (b) {}
	virtual ~Component () = default;

	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		if (FUnknownPrivate::iidEqual (iid, IComponent::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid) ||
		    FUnknownPrivate::iidEqual (iid, IPluginBase::iid))
			*obj = static_cast<IComponent*> (this);
		else if (FUnknownPrivate::iidEqual (iid, IAudioProcessor::iid))
			*obj = static_cast<IAudioProcessor*> (this);
		else
		{
			*obj = nullptr;
			return kNoInterface;
		}
		addRef ();
		return kResultOk;
	}
	uint32 PLUGIN_API addRef () override { return ++refs; }
	uint32 PLUGIN_API release () override
	{
		const uint32 left = --refs;
		if (left == 0)
			delete this;
		return left;
	}

	tresult PLUGIN_API initialize (FUnknown*) override { return kResultOk; }
	tresult PLUGIN_API terminate () override { return kResultOk; }
	tresult PLUGIN_API getControllerClassId (TUID) override { return kNotImplemented; }
	tresult PLUGIN_API setIoMode (IoMode) override { return kResultOk; }
	int32 PLUGIN_API getBusCount (MediaType, BusDirection) override { return 1; }
	// One bus each way as wide as the file's block: every channel the host
	// gives is served, so that each comes back processed.
	tresult PLUGIN_API getBusInfo (MediaType type, BusDirection dir, int32, BusInfo& bus) override
	{
		bus.mediaType = type;
		bus.direction = dir;
		bus.channelCount = type == kAudio ? Tandem::kMaxChannels : 1;
		return kResultOk;
	}
	tresult PLUGIN_API getRoutingInfo (RoutingInfo&, RoutingInfo&) override { return kNotImplemented; }
	tresult PLUGIN_API activateBus (MediaType, BusDirection, int32, TBool) override { return kResultOk; }
	tresult PLUGIN_API setActive (TBool) override { return kResultOk; }
	tresult PLUGIN_API setState (IBStream* stream) override
	{
		lastState.clear ();
		std::uint8_t chunk[4096];
		int32 got = 0;
		while (stream->read (chunk, sizeof chunk, &got) == kResultOk && got > 0)
			lastState.insert (lastState.end (), chunk, chunk + got);
		lastState.insert (lastState.end (), chunk, chunk + (got > 0 ? got : 0));
		return kResultOk;
	}
	tresult PLUGIN_API getState (IBStream* stream) override
	{
		std::vector<std::uint8_t> bytes (static_cast<size_t> (behaviour.stateSize), behaviour.stateFill);
		int32 written = 0;
		return bytes.empty () ? kResultOk : stream->write (bytes.data (), static_cast<int32> (bytes.size ()), &written);
	}

	tresult PLUGIN_API setBusArrangements (SpeakerArrangement*, int32, SpeakerArrangement*, int32) override
	{
		return kResultOk;
	}
	tresult PLUGIN_API getBusArrangement (BusDirection, int32, SpeakerArrangement&) override { return kResultOk; }
	tresult PLUGIN_API canProcessSampleSize (int32) override { return kResultOk; }
	uint32 PLUGIN_API getLatencySamples () override { return 0; }
	tresult PLUGIN_API setupProcessing (ProcessSetup&) override
	{
		return behaviour.setupFails ? kResultFalse : kResultOk;
	}
	tresult PLUGIN_API setProcessing (TBool) override { return kResultOk; }
	tresult PLUGIN_API process (ProcessData& data) override
	{
		if (behaviour.processFails)
			return kResultFalse;
		for (int32 c = 0; c < data.outputs[0].numChannels; ++c)
			for (int32 i = 0; i < data.numSamples; ++i)
				data.outputs[0].channelBuffers32[c][i] = 0.5f * data.inputs[0].channelBuffers32[c][i];
		return kResultOk;
	}
	uint32 PLUGIN_API getTailSamples () override { return 0; }

	Behaviour behaviour;
	std::vector<std::uint8_t> lastState;
	uint32 refs = 1;
};

class Factory : public IPluginFactory
{
public:
	explicit Factory (const Behaviour& b) : behaviour (b) {}
	virtual ~Factory () = default;
	tresult PLUGIN_API queryInterface (const TUID, void** obj) override
	{
		*obj = nullptr;
		return kNoInterface;
	}
	uint32 PLUGIN_API addRef () override { return ++refs; }
	uint32 PLUGIN_API release () override
	{
		const uint32 left = --refs;
		if (left == 0)
			delete this;
		return left;
	}
	tresult PLUGIN_API getFactoryInfo (PFactoryInfo*) override { return kNotImplemented; }
	int32 PLUGIN_API countClasses () override { return 1; }
	tresult PLUGIN_API getClassInfo (int32 index, PClassInfo* info) override
	{
		if (index != 0)
			return kInvalidArgument;
		std::memset (static_cast<void*> (info), 0, sizeof *info);
		std::memset (info->cid, 'c', sizeof info->cid);
		std::strcpy (info->category, "Audio Module Class");
		std::strcpy (info->name, "Fuzz");
		return kResultOk;
	}
	tresult PLUGIN_API createInstance (FIDString, FIDString, void** obj) override
	{
		component = new Component (behaviour);
		*obj = static_cast<IComponent*> (component);
		return kResultOk;
	}

	Behaviour behaviour;
	Component* component = nullptr; // the last one made, owned by its user
	uint32 refs = 1;
};

} // namespace fuzzplug
