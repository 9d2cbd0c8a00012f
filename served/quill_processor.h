// Quill's audio module: stereo in, stereo out, gain and tone.
#pragma once

#include <atomic>

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "quill_dsp.h"
#include "quill_live_object.h"
#include "quill_state.h"
#include "sdk/ref_counted.h"

namespace Quill {

class QuillProcessor : public Tandem::RefCounted<Steinberg::Vst::IComponent, Tandem::Indirectly<Steinberg::IPluginBase>,
                                                 Steinberg::Vst::IAudioProcessor, Steinberg::Vst::IConnectionPoint>,
                       private LiveObject
{
public:
	QuillProcessor ();

	// IPluginBase
	Steinberg::tresult PLUGIN_API initialize (Steinberg::FUnknown* context) override;
	Steinberg::tresult PLUGIN_API terminate () override;

	// IComponent
	Steinberg::tresult PLUGIN_API getControllerClassId (Steinberg::TUID classId) override;
	Steinberg::tresult PLUGIN_API setIoMode (Steinberg::Vst::IoMode mode) override;
	Steinberg::int32 PLUGIN_API getBusCount (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir) override;
	Steinberg::tresult PLUGIN_API getBusInfo (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
	                                          Steinberg::int32 index, Steinberg::Vst::BusInfo& bus) override;
	Steinberg::tresult PLUGIN_API getRoutingInfo (Steinberg::Vst::RoutingInfo& inInfo,
	                                              Steinberg::Vst::RoutingInfo& outInfo) override;
	Steinberg::tresult PLUGIN_API activateBus (Steinberg::Vst::MediaType type, Steinberg::Vst::BusDirection dir,
	                                           Steinberg::int32 index, Steinberg::TBool state) override;
	Steinberg::tresult PLUGIN_API setActive (Steinberg::TBool state) override;
	Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
	Steinberg::tresult PLUGIN_API getState (Steinberg::IBStream* state) override;

	// IAudioProcessor
	Steinberg::tresult PLUGIN_API setBusArrangements (Steinberg::Vst::SpeakerArrangement* inputs,
	                                                  Steinberg::int32 numIns,
	                                                  Steinberg::Vst::SpeakerArrangement* outputs,
	                                                  Steinberg::int32 numOuts) override;
	Steinberg::tresult PLUGIN_API getBusArrangement (Steinberg::Vst::BusDirection dir, Steinberg::int32 index,
	                                                 Steinberg::Vst::SpeakerArrangement& arr) override;
	Steinberg::tresult PLUGIN_API canProcessSampleSize (Steinberg::int32 symbolicSampleSize) override;
	Steinberg::uint32 PLUGIN_API getLatencySamples () override { return 0; }
	Steinberg::tresult PLUGIN_API setupProcessing (Steinberg::Vst::ProcessSetup& setup) override;
	Steinberg::tresult PLUGIN_API setProcessing (Steinberg::TBool state) override;
	Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override;
	Steinberg::uint32 PLUGIN_API getTailSamples () override { return 0; }

	// IConnectionPoint
	Steinberg::tresult PLUGIN_API connect (Steinberg::Vst::IConnectionPoint* other) override;
	Steinberg::tresult PLUGIN_API disconnect (Steinberg::Vst::IConnectionPoint* other) override;
	Steinberg::tresult PLUGIN_API notify (Steinberg::Vst::IMessage* message) override;

	// A parameter value from the host's parameter changes; safe while audio runs.
	void applyParameter (Steinberg::uint32 id, double normalized);
	QuillParams currentParams () const;

protected:
	virtual ~QuillProcessor ();
	// The block's last value of each parameter the host changed.
	void applyParameterChanges (Steinberg::Vst::ProcessData& data);

private:
	// Written by the user-interface thread, read by the audio thread.
	std::atomic<double> gain_ {kDefaultGain};
	std::atomic<double> tone_ {kDefaultTone};
	static_assert (std::atomic<double>::is_always_lock_free, "parameters are shared with the audio thread");

	// Audio-thread side.
	QuillDsp dsp_;
	double sampleRate_ = 48000.0;
	bool active_ = false;
	bool processing_ = false;
	bool busActive_[2] = {true, true};

	Steinberg::Vst::IConnectionPoint* peer_ = nullptr;
};

} // namespace Quill
