// Quill's edit controller: two parameters, the component state mirror and
// the editor. Edits reach the audio module the standard way: the controller
// reports them to the host's component handler (performEdit), and the host
// hands them to the processor with its next process() call.
#pragma once

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "quill_dsp.h"
#include "quill_live_object.h"
#include "sdk/ref_counted.h"

namespace Quill {

class EditorRefresh;

// The editors a build can have: Quill's bars, or one drawn the way a common
// toolkit draws (see the editors' headers).
enum class EditorKind
{
	Bars,
	VBlank,
	Direct2D,
	Form,
	OpenGL
};

class QuillController
: public Tandem::RefCounted<Steinberg::Vst::IEditController, Tandem::Indirectly<Steinberg::IPluginBase>,
                            Steinberg::Vst::IConnectionPoint>,
  private LiveObject
{
public:
	QuillController ();

	// IPluginBase
	Steinberg::tresult PLUGIN_API initialize (Steinberg::FUnknown* context) override;
	Steinberg::tresult PLUGIN_API terminate () override;

	// IEditController
	Steinberg::tresult PLUGIN_API setComponentState (Steinberg::IBStream* state) override;
	Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
	Steinberg::tresult PLUGIN_API getState (Steinberg::IBStream* state) override;
	Steinberg::int32 PLUGIN_API getParameterCount () override { return kParamCount; }
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

	// IConnectionPoint
	Steinberg::tresult PLUGIN_API connect (Steinberg::Vst::IConnectionPoint* other) override;
	Steinberg::tresult PLUGIN_API disconnect (Steinberg::Vst::IConnectionPoint* other) override;
	Steinberg::tresult PLUGIN_API notify (Steinberg::Vst::IMessage* message) override;

	// An edit made in the editor: updates the value and reports it to the
	// host, which passes it on to the audio module.
	void editParameter (Steinberg::Vst::ParamID id, double normalized);
	// Adopts values the audio module runs with.
	void adoptParams (double gain, double tone);
	// A host takes the edits.
	bool linked () const { return handler_ != nullptr; }
	// Asks the host to restart the plug-in; false without a host handler.
	bool restartHost (Steinberg::int32 flags)
	{
		return handler_ && handler_->restartComponent (flags) == Steinberg::kResultOk;
	}

	// Builds without an editor: createView gives no view, as plug-ins that
	// leave the editor to their host do.
	void withoutEditor () { editorEnabled_ = false; }
	// Editors whose drawing only their own module links (OpenGL) come with
	// a maker from that module.
	using ViewMaker = Steinberg::IPlugView* (*)(QuillController*);
	void useEditor (EditorKind kind, ViewMaker maker = nullptr)
	{
		editorKind_ = kind;
		viewMaker_ = maker;
	}

	// The open editor, if any, repaints on value changes.
	void setEditor (EditorRefresh* editor) { editor_ = editor; }

protected:
	virtual ~QuillController ();

private:
	void valuesChanged ();

	double values_[kParamCount] = {kDefaultGain, kDefaultTone};
	Steinberg::Vst::IComponentHandler* handler_ = nullptr;
	Steinberg::Vst::IConnectionPoint* peer_ = nullptr;
	EditorRefresh* editor_ = nullptr;
	bool editorEnabled_ = true;
	EditorKind editorKind_ = EditorKind::Bars;
	ViewMaker viewMaker_ = nullptr;
};

} // namespace Quill
