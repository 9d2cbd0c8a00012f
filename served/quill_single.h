// One-object variant: the audio module is also its own edit controller. The
// controller half is Quill's ordinary controller; its edits reach this module
// through the host, like those of the two-object build.
#pragma once

#include "quill_controller.h"
#include "quill_processor.h"

namespace Quill {

class QuillSingle : public Tandem::Extends<QuillProcessor, Steinberg::Vst::IEditController>
{
public:
	QuillSingle ();

	// Refuses IConnectionPoint: one object needs no connection to itself.
	Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID iid, void** obj) override;

	// Shared by IComponent and IEditController (same signatures): the state
	// is the component's, and restoring it updates the controller half too.
	Steinberg::tresult PLUGIN_API initialize (Steinberg::FUnknown* context) override;
	Steinberg::tresult PLUGIN_API terminate () override;
	Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
	Steinberg::tresult PLUGIN_API getState (Steinberg::IBStream* state) override;

	// IEditController, handed to the controller half.
	Steinberg::tresult PLUGIN_API setComponentState (Steinberg::IBStream* state) override;
	Steinberg::int32 PLUGIN_API getParameterCount () override;
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
	Steinberg::IPlugView* PLUGIN_API createView (Steinberg::FIDString name) override;

	// A build whose controller half has no editor.
	void withoutEditor ();
	// A build whose controller half has another editor.
	void useEditor (EditorKind kind, QuillController::ViewMaker maker = nullptr);

protected:
	~QuillSingle () override;
	// The controller half's host: asked to restart the plug-in.
	void restartHost (Steinberg::int32 flags) { edit_->restartHost (flags); }

private:
	QuillController* edit_;
};

} // namespace Quill
