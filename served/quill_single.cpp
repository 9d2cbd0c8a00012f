#include "quill_single.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

QuillSingle::QuillSingle () : edit_ (new QuillController) {}

void QuillSingle::withoutEditor ()
{
	edit_->withoutEditor ();
}
void QuillSingle::useEditor (EditorKind kind, QuillController::ViewMaker maker)
{
	edit_->useEditor (kind, maker);
}

QuillSingle::~QuillSingle ()
{
	edit_->release ();
}

tresult PLUGIN_API QuillSingle::queryInterface (const TUID iid, void** obj)
{
	if (obj && FUnknownPrivate::iidEqual (iid, IConnectionPoint::iid))
	{
		*obj = nullptr;
		return kNoInterface;
	}
	return Extends::queryInterface (iid, obj);
}

tresult PLUGIN_API QuillSingle::initialize (FUnknown* context)
{
	const tresult result = QuillProcessor::initialize (context);
	if (result != kResultOk)
		return result;
	return edit_->initialize (context);
}

tresult PLUGIN_API QuillSingle::terminate ()
{
	edit_->terminate ();
	return QuillProcessor::terminate ();
}

tresult PLUGIN_API QuillSingle::setState (IBStream* state)
{
	const tresult result = QuillProcessor::setState (state);
	if (result == kResultOk)
	{
		const QuillParams params = currentParams ();
		edit_->adoptParams (params.gain, params.tone);
	}
	return result;
}

tresult PLUGIN_API QuillSingle::getState (IBStream* state)
{
	return QuillProcessor::getState (state);
}

tresult PLUGIN_API QuillSingle::setComponentState (IBStream* state)
{
	return edit_->setComponentState (state);
}
int32 PLUGIN_API QuillSingle::getParameterCount ()
{
	return edit_->getParameterCount ();
}
tresult PLUGIN_API QuillSingle::getParameterInfo (int32 paramIndex, ParameterInfo& info)
{
	return edit_->getParameterInfo (paramIndex, info);
}
tresult PLUGIN_API QuillSingle::getParamStringByValue (ParamID id, ParamValue valueNormalized, String128 string)
{
	return edit_->getParamStringByValue (id, valueNormalized, string);
}
tresult PLUGIN_API QuillSingle::getParamValueByString (ParamID id, TChar* string, ParamValue& valueNormalized)
{
	return edit_->getParamValueByString (id, string, valueNormalized);
}
ParamValue PLUGIN_API QuillSingle::normalizedParamToPlain (ParamID id, ParamValue valueNormalized)
{
	return edit_->normalizedParamToPlain (id, valueNormalized);
}
ParamValue PLUGIN_API QuillSingle::plainParamToNormalized (ParamID id, ParamValue plainValue)
{
	return edit_->plainParamToNormalized (id, plainValue);
}
ParamValue PLUGIN_API QuillSingle::getParamNormalized (ParamID id)
{
	return edit_->getParamNormalized (id);
}

tresult PLUGIN_API QuillSingle::setParamNormalized (ParamID id, ParamValue value)
{
	return edit_->setParamNormalized (id, value);
}
tresult PLUGIN_API QuillSingle::setComponentHandler (IComponentHandler* handler)
{
	return edit_->setComponentHandler (handler);
}
IPlugView* PLUGIN_API QuillSingle::createView (FIDString name)
{
	return edit_->createView (name);
}

} // namespace Quill
