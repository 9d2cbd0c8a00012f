// Test variant: one object, component and controller, whose parameters
// carry what a host has to get right: sample-accurate automation, a bypass,
// a read-only meter sent back with every block, lists, a program change, a
// hidden parameter, units with a program list, a title that changes, and an
// edit gesture started by the plug-in. Ids and values: quill_parameters_ids.h.
//
// The audio half runs with its own values, taken from the host's parameter
// changes only; the controller half keeps the values the host set on it.
// Like a two-object plug-in, the halves meet through the host alone.
#pragma once

#include <atomic>

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "quill_parameters_ids.h"
#include "quill_parameters_units.h"
#include "quill_processor.h"

namespace Quill {

// QuillParametersUnits is answered as the IUnitInfo it implements.
class QuillParameters : public Tandem::Extends<QuillProcessor, Steinberg::Vst::IEditController, QuillParametersUnits>
{
public:
	QuillParameters ();

	// Refuses IConnectionPoint: one object needs no connection to itself.
	Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;

	// Shared by IComponent and IEditController (same signatures). The state
	// is the audio half's; setComponentState hands it to the controller half.
	Steinberg::tresult PLUGIN_API initialize (Steinberg::FUnknown* context) override;
	Steinberg::tresult PLUGIN_API terminate () override;
	Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
	Steinberg::tresult PLUGIN_API getState (Steinberg::IBStream* state) override;

	// IAudioProcessor
	Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override;
	Steinberg::uint32 PLUGIN_API getLatencySamples () override { return 0; }
	Steinberg::uint32 PLUGIN_API getTailSamples () override { return 0; }

	// IEditController
	Steinberg::tresult PLUGIN_API setComponentState (Steinberg::IBStream* state) override;
	Steinberg::int32 PLUGIN_API getParameterCount () override { return kParametersCount; }
	Steinberg::tresult PLUGIN_API getParameterInfo (Steinberg::int32 paramIndex,
	                                                Steinberg::Vst::ParameterInfo& info) override;
	Steinberg::tresult PLUGIN_API getParamStringByValue (Steinberg::Vst::ParamID id,
	                                                     Steinberg::Vst::ParamValue valueNormalized,
	                                                     Steinberg::Vst::String128 string) override;
	Steinberg::tresult PLUGIN_API getParamValueByString (Steinberg::Vst::ParamID id, Steinberg::Vst::TChar* string,
	                                                     Steinberg::Vst::ParamValue& valueNormalized) override;
	Steinberg::Vst::ParamValue PLUGIN_API normalizedParamToPlain (Steinberg::Vst::ParamID id,
	                                                              Steinberg::Vst::ParamValue valueNormalized) override;
	Steinberg::Vst::ParamValue PLUGIN_API plainParamToNormalized (Steinberg::Vst::ParamID id,
	                                                              Steinberg::Vst::ParamValue plainValue) override;
	Steinberg::Vst::ParamValue PLUGIN_API getParamNormalized (Steinberg::Vst::ParamID id) override;
	Steinberg::tresult PLUGIN_API setParamNormalized (Steinberg::Vst::ParamID id,
	                                                  Steinberg::Vst::ParamValue value) override;
	Steinberg::tresult PLUGIN_API setComponentHandler (Steinberg::Vst::IComponentHandler* handler) override;
	// No editor: the host draws its own.
	Steinberg::IPlugView* PLUGIN_API createView (Steinberg::FIDString) override { return nullptr; }

protected:
	~QuillParameters () override;
	void restartHost (Steinberg::int32 flags);

private:
	// Gain's titles follow the mode. A change is announced to the host;
	// with `always`, so is every Hard the host sets, titled Drive already or not.
	void followMode (bool always);
	// What an editor's drag of Gain would tell the host.
	void playDrag ();

	// Audio half: written by process() and setState, read by getState.
	std::atomic<double> running_[kParametersCount];

	// Controller half.
	double values_[kParametersCount] = {};
	bool drive_ = false;
	Steinberg::Vst::IComponentHandler* handler_ = nullptr;
};

} // namespace Quill
