#include "quill_controller.h"
#include "quill_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pluginterfaces/vst/ivsthostapplication.h"
#include "quill_editor.h"
#include "quill_direct2d_editor.h"
#include "quill_form_editor.h"
#include "quill_vblank_editor.h"
#include "quill_ids.h"
#include "quill_message.h"
#include "quill_processor.h"
#include "quill_stream.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

QuillController::QuillController () = default;

QuillController::~QuillController ()
{
	if (handler_)
		handler_->release ();
	if (peer_)
		peer_->release ();
}

tresult PLUGIN_API QuillController::initialize (FUnknown* context)
{
	// Greets the host by name; purely informative.
	IHostApplication* host = nullptr;
	if (context && context->queryInterface (IHostApplication::iid, reinterpret_cast<void**> (&host)) == kResultOk &&
	    host)
	{
		String128 name = {};
		char narrow[128] = {};
		if (host->getName (name) == kResultOk)
		{
			for (int i = 0; i < 127 && name[i]; ++i)
				narrow[i] = name[i] < 128 ? static_cast<char> (name[i]) : '?';
			std::printf ("[Quill] Controller initialized by host \"%s\"\n", narrow);
			std::fflush (stdout);
		}
		host->release ();
	}
	return kResultOk;
}

tresult PLUGIN_API QuillController::terminate ()
{
	if (handler_)
	{
		handler_->release ();
		handler_ = nullptr;
	}
	if (peer_)
	{
		peer_->release ();
		peer_ = nullptr;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillController::setComponentState (IBStream* state)
{
	QuillParams params {};
	if (!readState (state, params))
		return kResultFalse;
	adoptParams (params.gain, params.tone);
	return kResultOk;
}

// The controller keeps nothing of its own beyond the component's values.
tresult PLUGIN_API QuillController::setState (IBStream*)
{
	return kResultOk;
}
tresult PLUGIN_API QuillController::getState (IBStream*)
{
	return kResultOk;
}

tresult PLUGIN_API QuillController::getParameterInfo (int32 paramIndex, ParameterInfo& info)
{
	if (paramIndex < 0 || paramIndex >= static_cast<int32> (kParamCount))
		return kInvalidArgument;
	std::memset (&info, 0, sizeof info);
	info.id = static_cast<ParamID> (paramIndex);
	toString128 (paramIndex == kGainId ? "Gain" : "Tone", info.title);
	toString128 (paramIndex == kGainId ? "Gain" : "Tone", info.shortTitle);
	toString128 (paramIndex == kGainId ? "dB" : "Hz", info.units);
	info.stepCount = 0;
	info.defaultNormalizedValue = paramIndex == kGainId ? kDefaultGain : kDefaultTone;
	info.unitId = 0; // the root unit
	info.flags = ParameterInfo::kCanAutomate;
	return kResultOk;
}

tresult PLUGIN_API QuillController::getParamStringByValue (ParamID id, ParamValue valueNormalized, String128 string)
{
	if (id >= kParamCount || !string)
		return kInvalidArgument;
	char text[32];
	std::snprintf (text, sizeof text, id == kGainId ? "%.1f" : "%.0f", normalizedParamToPlain (id, valueNormalized));
	toString128 (text, string);
	return kResultOk;
}

tresult PLUGIN_API QuillController::getParamValueByString (ParamID id, TChar* string, ParamValue& valueNormalized)
{
	if (id >= kParamCount || !string)
		return kInvalidArgument;
	char text[64];
	toNarrow (string, text);
	char* end = nullptr;
	const double plain = std::strtod (text, &end);
	if (end == text)
		return kResultFalse;
	valueNormalized = plainParamToNormalized (id, plain);
	return kResultOk;
}

ParamValue PLUGIN_API QuillController::normalizedParamToPlain (ParamID id, ParamValue valueNormalized)
{
	return id == kGainId ? gainDb (valueNormalized) : toneHz (valueNormalized);
}

ParamValue PLUGIN_API QuillController::plainParamToNormalized (ParamID id, ParamValue plainValue)
{
	if (id == kGainId)
		return clampNormalized ((plainValue - kGainMinDb) / (kGainMaxDb - kGainMinDb));
	if (!(plainValue > 0.0))
		return 0.0;
	return clampNormalized (std::log (plainValue / kToneMinHz) / std::log (kToneMaxHz / kToneMinHz));
}

ParamValue PLUGIN_API QuillController::getParamNormalized (ParamID id)
{
	return id < kParamCount ? values_[id] : 0.0;
}

tresult PLUGIN_API QuillController::setParamNormalized (ParamID id, ParamValue value)
{
	if (id >= kParamCount || value != value)
		return kInvalidArgument;
	values_[id] = clampNormalized (value);
	valuesChanged ();
	return kResultOk;
}

tresult PLUGIN_API QuillController::setComponentHandler (IComponentHandler* handler)
{
	if (handler)
		handler->addRef ();
	if (handler_)
		handler_->release ();
	handler_ = handler;
	return kResultOk;
}

IPlugView* PLUGIN_API QuillController::createView (FIDString name)
{
	if (!editorEnabled_ || !name || std::strcmp (name, "editor") != 0)
		return nullptr;
	if (viewMaker_)
		return viewMaker_ (this);
	switch (editorKind_)
	{
	case EditorKind::VBlank:
		return new QuillVBlankEditor (this);
	case EditorKind::Direct2D:
		return new QuillDirect2DEditor (this);
	case EditorKind::Form:
		return new QuillFormEditor (this);
	default:
		return new QuillEditor (this);
	}
}

tresult PLUGIN_API QuillController::connect (IConnectionPoint* other)
{
	if (!other)
		return kInvalidArgument;
	if (peer_)
		return kResultFalse;
	peer_ = other;
	peer_->addRef ();
	valuesChanged ();
	return kResultOk;
}

tresult PLUGIN_API QuillController::disconnect (IConnectionPoint* other)
{
	if (!peer_ || other != peer_)
		return kResultFalse;
	peer_->release ();
	peer_ = nullptr;
	valuesChanged ();
	return kResultOk;
}

tresult PLUGIN_API QuillController::notify (IMessage* message)
{
	if (!message || !message->getMessageID () || std::strcmp (message->getMessageID (), kHelloMessage) != 0)
		return kResultFalse;
	IAttributeList* attributes = message->getAttributes ();
	double gain = 0.0, tone = 0.0;
	if (!attributes || attributes->getFloat ("gain", gain) != kResultOk ||
	    attributes->getFloat ("tone", tone) != kResultOk)
		return kInvalidArgument;
	adoptParams (gain, tone);
	return kResultOk;
}

void QuillController::editParameter (ParamID id, double normalized)
{
	if (id >= kParamCount || normalized != normalized)
		return;
	values_[id] = clampNormalized (normalized);
	if (handler_)
	{
		handler_->beginEdit (id);
		handler_->performEdit (id, values_[id]);
		handler_->endEdit (id);
	}
	valuesChanged ();
}

void QuillController::adoptParams (double gain, double tone)
{
	values_[kGainId] = clampNormalized (gain);
	values_[kToneId] = clampNormalized (tone);
	valuesChanged ();
}

void QuillController::valuesChanged ()
{
	if (editor_)
		editor_->refresh ();
}

} // namespace Quill
