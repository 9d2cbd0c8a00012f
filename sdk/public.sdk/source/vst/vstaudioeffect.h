// Stand-in for the VST 3 SDK's AudioEffect, for SDK subsets that lack it.
// Same class name, include path and behaviour as far as the plug-in uses it:
// audio buses, process setup, bus arrangements and 32-bit sample support.
#pragma once

#include "public.sdk/source/vst/vstcomponent.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"

namespace Steinberg {
namespace Vst {

class AudioEffect : public Component, public IAudioProcessor, public IProcessContextRequirements
{
public:
	AudioEffect ();

	AudioBus* addAudioInput (const TChar* name, SpeakerArrangement arr, BusType busType = kMain,
	                         int32 flags = BusInfo::kDefaultActive);
	AudioBus* addAudioOutput (const TChar* name, SpeakerArrangement arr, BusType busType = kMain,
	                          int32 flags = BusInfo::kDefaultActive);
	AudioBus* getAudioInput (int32 index);
	AudioBus* getAudioOutput (int32 index);

	// IAudioProcessor
	tresult PLUGIN_API setBusArrangements (SpeakerArrangement* inputs, int32 numIns,
	                                       SpeakerArrangement* outputs, int32 numOuts) SMTG_OVERRIDE;
	tresult PLUGIN_API getBusArrangement (BusDirection dir, int32 index, SpeakerArrangement& arr) SMTG_OVERRIDE;
	tresult PLUGIN_API canProcessSampleSize (int32 symbolicSampleSize) SMTG_OVERRIDE;
	uint32 PLUGIN_API getLatencySamples () SMTG_OVERRIDE { return 0; }
	tresult PLUGIN_API setupProcessing (ProcessSetup& setup) SMTG_OVERRIDE;
	tresult PLUGIN_API setProcessing (TBool state) SMTG_OVERRIDE;
	tresult PLUGIN_API process (ProcessData& data) SMTG_OVERRIDE;
	uint32 PLUGIN_API getTailSamples () SMTG_OVERRIDE { return kNoTail; }

	// IProcessContextRequirements
	uint32 PLUGIN_API getProcessContextRequirements () SMTG_OVERRIDE { return 0; }

	OBJ_METHODS (AudioEffect, Component)
	DEFINE_INTERFACES
		DEF_INTERFACE (IAudioProcessor)
		DEF_INTERFACE (IProcessContextRequirements)
	END_DEFINE_INTERFACES (Component)
	REFCOUNT_METHODS (Component)

protected:
	ProcessSetup processSetup;
};

} // namespace Vst
} // namespace Steinberg
