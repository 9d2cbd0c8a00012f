#include "quill_parameters_units.h"
#include "quill_text.h"

#include <cstring>

#include "quill_parameters_ids.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

int32 PLUGIN_API QuillParametersUnits::getUnitCount ()
{
	return 2;
}

tresult PLUGIN_API QuillParametersUnits::getUnitInfo (int32 unitIndex, UnitInfo& info)
{
	if (unitIndex < 0 || unitIndex >= getUnitCount ())
		return kInvalidArgument;
	std::memset (&info, 0, sizeof info);
	if (unitIndex == 0)
	{
		info.id = kRootUnit;
		info.parentUnitId = kNoParentUnitId;
		info.programListId = kNoProgramListId;
		toString128 (kRootUnitName, info.name);
	}
	else
	{
		info.id = kCharacterUnit;
		info.parentUnitId = kRootUnit;
		info.programListId = kCharacterProgramList;
		toString128 (kCharacterUnitName, info.name);
	}
	return kResultOk;
}

tresult PLUGIN_API QuillParametersUnits::getProgramListInfo (int32 listIndex, ProgramListInfo& info)
{
	if (listIndex != 0)
		return kInvalidArgument;
	std::memset (&info, 0, sizeof info);
	info.id = kCharacterProgramList;
	info.programCount = kCharacterProgramCount;
	toString128 (kCharacterProgramListName, info.name);
	return kResultOk;
}

tresult PLUGIN_API QuillParametersUnits::getProgramName (ProgramListID listId, int32 programIndex, String128 name)
{
	if (listId != kCharacterProgramList || programIndex < 0 || programIndex >= kCharacterProgramCount || !name)
		return kInvalidArgument;
	toString128 (kProgramNames[programIndex], name);
	return kResultOk;
}

// The programs have names only: no attributes, no pitch names.
tresult PLUGIN_API QuillParametersUnits::getProgramInfo (ProgramListID, int32, Vst::CString, String128)
{
	return kResultFalse;
}
tresult PLUGIN_API QuillParametersUnits::hasProgramPitchNames (ProgramListID, int32)
{
	return kResultFalse;
}
tresult PLUGIN_API QuillParametersUnits::getProgramPitchName (ProgramListID, int32, int16, String128)
{
	return kResultFalse;
}

// Without an editor there is nothing to show a selection in: the root stays
// the selected unit whatever the host picks.
UnitID PLUGIN_API QuillParametersUnits::getSelectedUnit ()
{
	return kRootUnit;
}
tresult PLUGIN_API QuillParametersUnits::selectUnit (UnitID unitId)
{
	return unitId == kRootUnit || unitId == kCharacterUnit ? kResultOk : kInvalidArgument;
}

// No unit belongs to a bus, and programs are not loaded from streams.
tresult PLUGIN_API QuillParametersUnits::getUnitByBus (MediaType, BusDirection, int32, int32, UnitID&)
{
	return kResultFalse;
}
tresult PLUGIN_API QuillParametersUnits::setUnitProgramData (int32, int32, IBStream*)
{
	return kResultFalse;
}

} // namespace Quill
