// The controller's parameters: the served controller's, through the
// parameter list reader.
#include "plugin/controller.h"

#include "plugin/edit_relay.h"

#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

tresult PLUGIN_API QuillMarlowController::setComponentState (IBStream*)
{
	// The processor has given outpost the state: the served controller's
	// list and values follow it, and the host reads them next.
	const int32 flags = parameters_.refresh (true);
	passEdits ();
	if (flags && getComponentHandler ())
		getComponentHandler ()->restartComponent (flags);
	return kResultOk;
}

int32 PLUGIN_API QuillMarlowController::getParameterCount ()
{
	// Hosts ask right after connecting us, while outpost may still start.
	// Later lists reach a host with a handler through restartComponent,
	// so that it never reads a list it was not told of; one without a
	// handler gets the newest.
	if (!parameters_.copied () || !getComponentHandler ())
		parameters_.refresh (true);
	return parameters_.count ();
}

tresult PLUGIN_API QuillMarlowController::getParameterInfo (int32 paramIndex, Vst::ParameterInfo& info)
{
	return parameters_.info (paramIndex, info) ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API QuillMarlowController::getParamStringByValue (Vst::ParamID id, Vst::ParamValue valueNormalized,
                                                                 Vst::String128 string)
{
	return parameters_.stringByValue (id, valueNormalized, string);
}

tresult PLUGIN_API QuillMarlowController::getParamValueByString (Vst::ParamID id, Vst::TChar* string,
                                                                 Vst::ParamValue& valueNormalized)
{
	return parameters_.valueByString (id, string, valueNormalized);
}

Vst::ParamValue PLUGIN_API QuillMarlowController::normalizedParamToPlain (Vst::ParamID id,
                                                                          Vst::ParamValue valueNormalized)
{
	return parameters_.toPlain (id, valueNormalized);
}

Vst::ParamValue PLUGIN_API QuillMarlowController::plainParamToNormalized (Vst::ParamID id, Vst::ParamValue plainValue)
{
	return parameters_.toNormalized (id, plainValue);
}

Vst::ParamValue PLUGIN_API QuillMarlowController::getParamNormalized (Vst::ParamID id)
{
	return parameters_.value (id);
}

tresult PLUGIN_API QuillMarlowController::setParamNormalized (Vst::ParamID id, Vst::ParamValue value)
{
	return parameters_.setValue (id, value);
}

int32 QuillMarlowController::passEdits ()
{
	return editRelay_ ? editRelay_->pass () : 0;
}

int32 PLUGIN_API QuillMarlowController::getUnitCount ()
{
	return parameters_.unitCount ();
}

tresult PLUGIN_API QuillMarlowController::getUnitInfo (int32 unitIndex, Vst::UnitInfo& info)
{
	return parameters_.unit (unitIndex, info) ? kResultOk : kInvalidArgument;
}

int32 PLUGIN_API QuillMarlowController::getProgramListCount ()
{
	return parameters_.programListCount ();
}

tresult PLUGIN_API QuillMarlowController::getProgramListInfo (int32 listIndex, Vst::ProgramListInfo& info)
{
	return parameters_.programList (listIndex, info) ? kResultOk : kInvalidArgument;
}

tresult PLUGIN_API QuillMarlowController::getProgramName (Vst::ProgramListID listId, int32 programIndex,
                                                          Vst::String128 name)
{
	return parameters_.programName (listId, programIndex, name);
}

tresult PLUGIN_API QuillMarlowController::getProgramInfo (Vst::ProgramListID, int32, Vst::CString, Vst::String128)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowController::hasProgramPitchNames (Vst::ProgramListID, int32)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowController::getProgramPitchName (Vst::ProgramListID, int32, int16, Vst::String128)
{
	return kResultFalse;
}

tresult PLUGIN_API QuillMarlowController::selectUnit (Vst::UnitID unitId)
{
	selectedUnit_ = unitId;
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowController::setUnitProgramData (int32, int32, IBStream*)
{
	return kResultFalse;
}

} // namespace QuillMarlow
} // namespace Steinberg
