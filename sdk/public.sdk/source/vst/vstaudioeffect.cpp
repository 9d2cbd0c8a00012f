#include "public.sdk/source/vst/vstaudioeffect.h"

namespace Steinberg {
namespace Vst {

AudioEffect::AudioEffect ()
{
	processSetup.processMode = kRealtime;
	processSetup.symbolicSampleSize = kSample32;
	processSetup.maxSamplesPerBlock = 1024;
	processSetup.sampleRate = 44100.0;
}

static AudioBus* addBus (BusList& list, const TChar* name, SpeakerArrangement arr, BusType busType,
                         int32 flags)
{
	auto* bus = new AudioBus (name, busType, flags, arr);
	list.push_back (IPtr<Bus> (bus, false));
	return bus;
}

AudioBus* AudioEffect::addAudioInput (const TChar* name, SpeakerArrangement arr, BusType busType,
                                      int32 flags)
{
	return addBus (audioInputs, name, arr, busType, flags);
}

AudioBus* AudioEffect::addAudioOutput (const TChar* name, SpeakerArrangement arr, BusType busType,
                                       int32 flags)
{
	return addBus (audioOutputs, name, arr, busType, flags);
}

static AudioBus* busAt (BusList& list, int32 index)
{
	if (index < 0 || index >= static_cast<int32> (list.size ()))
		return nullptr;
	return static_cast<AudioBus*> (list.at (index).get ());
}

AudioBus* AudioEffect::getAudioInput (int32 index) { return busAt (audioInputs, index); }
AudioBus* AudioEffect::getAudioOutput (int32 index) { return busAt (audioOutputs, index); }

tresult PLUGIN_API AudioEffect::setBusArrangements (SpeakerArrangement* inputs, int32 numIns,
                                                    SpeakerArrangement* outputs, int32 numOuts)
{
	if (numIns < 0 || numOuts < 0)
		return kInvalidArgument;
	if (numIns > static_cast<int32> (audioInputs.size ()) ||
	    numOuts > static_cast<int32> (audioOutputs.size ()))
		return kResultFalse;
	for (int32 i = 0; i < numIns; ++i)
		getAudioInput (i)->setArrangement (inputs[i]);
	for (int32 i = 0; i < numOuts; ++i)
		getAudioOutput (i)->setArrangement (outputs[i]);
	return kResultTrue;
}

tresult PLUGIN_API AudioEffect::getBusArrangement (BusDirection dir, int32 index,
                                                   SpeakerArrangement& arr)
{
	AudioBus* bus = dir == kInput ? getAudioInput (index) : getAudioOutput (index);
	if (!bus)
		return kInvalidArgument;
	arr = bus->getArrangement ();
	return kResultTrue;
}

tresult PLUGIN_API AudioEffect::canProcessSampleSize (int32 symbolicSampleSize)
{
	return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API AudioEffect::setupProcessing (ProcessSetup& setup)
{
	processSetup.maxSamplesPerBlock = setup.maxSamplesPerBlock;
	processSetup.processMode = setup.processMode;
	processSetup.sampleRate = setup.sampleRate;
	if (canProcessSampleSize (setup.symbolicSampleSize) != kResultTrue)
		return kResultFalse;
	processSetup.symbolicSampleSize = setup.symbolicSampleSize;
	return kResultOk;
}

tresult PLUGIN_API AudioEffect::setProcessing (TBool)
{
	return kNotImplemented;
}

tresult PLUGIN_API AudioEffect::process (ProcessData&)
{
	return kNotImplemented;
}

} // namespace Vst
} // namespace Steinberg
