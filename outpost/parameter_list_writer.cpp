#include "parameter_list_writer.h"
#include "log/log.h"

#include "protocol/futex.h"
#include "protocol/parameter_list.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

ParameterListWriter::ParameterListWriter (ParameterData& region, IEditController* controller)
: region_ (region), controller_ (controller)
{
	if (controller_ &&
	    (controller_->queryInterface (IUnitInfo::iid, reinterpret_cast<void**> (&units_)) != kResultOk || !units_))
		units_ = nullptr;
}

ParameterListWriter::~ParameterListWriter ()
{
	if (units_)
		units_->release ();
}

int32 ParameterListWriter::publishList ()
{
	ParameterList& list = region_.list;
	const int32 reported = controller_ ? controller_->getParameterCount () : 0;
	const int32 count = clampCount (reported, kMaxParameters);

	std::vector<ParameterInfo> infos (static_cast<std::size_t> (count));
	std::int32_t unended = -1;
	for (int32 i = 0; i < count; ++i)
	{
		ParameterInfo& info = infos[static_cast<std::size_t> (i)];
		std::memset (&info, 0, sizeof info);
		if (controller_->getParameterInfo (i, info) != kResultOk)
		{
			info.id = kNoParamId;
			continue;
		}
		const bool a = terminateText (info.title), b = terminateText (info.shortTitle), c = terminateText (info.units);
		if ((a || b || c) && unended < 0)
			unended = i;
	}
	std::vector<UnitInfo> units;
	std::vector<ProgramListInfo> programLists;
	if (units_)
	{
		units.resize (static_cast<std::size_t> (clampCount (units_->getUnitCount (), kMaxUnits)));
		for (std::size_t i = 0; i < units.size (); ++i)
		{
			std::memset (&units[i], 0, sizeof units[i]);
			if (units_->getUnitInfo (static_cast<int32> (i), units[i]) != kResultOk)
				units[i].id = kNoParentUnitId;
			terminateText (units[i].name);
		}
		programLists.resize (static_cast<std::size_t> (clampCount (units_->getProgramListCount (), kMaxProgramLists)));
		for (std::size_t i = 0; i < programLists.size (); ++i)
		{
			std::memset (&programLists[i], 0, sizeof programLists[i]);
			if (units_->getProgramListInfo (static_cast<int32> (i), programLists[i]) != kResultOk)
				programLists[i].id = kNoProgramListId;
			terminateText (programLists[i].name);
		}
	}

	// Nothing changed: nothing to publish, no restart.
	bool same = listed_ && list.count == count && list.unitCount == static_cast<int32> (units.size ()) &&
	            list.programListCount == static_cast<int32> (programLists.size ());
	bool sameIds = listed_ && list.count == count;
	for (int32 i = 0; sameIds && i < count; ++i)
		sameIds = ids_[static_cast<std::size_t> (i)] == infos[static_cast<std::size_t> (i)].id;
	same = same && sameIds;
	for (int32 i = 0; same && i < count; ++i)
		same = std::memcmp (list.parameters[i], &infos[static_cast<std::size_t> (i)], kParameterInfoSize) == 0;
	for (std::size_t i = 0; same && i < units.size (); ++i)
		same = std::memcmp (list.units[i], &units[i], kUnitInfoSize) == 0;
	for (std::size_t i = 0; same && i < programLists.size (); ++i)
		same = std::memcmp (list.programLists[i], &programLists[i], kProgramListInfoSize) == 0;
	if (same)
		return 0;

	if (reported > kMaxParameters)
		logError () << "[Outpost] The served plug-in reports " << reported << " parameters: the host sees the first "
		            << kMaxParameters;
	if (unended >= 0)
		logError () << "[Outpost] Parameter texts of the served plug-in without an end were cut to "
		            << (kTextLength - 1) << " characters (the first at parameter " << unended << ")";

	publishParameterList (list, reported, infos.data (), count, units.data (), static_cast<int32> (units.size ()),
	                      programLists.data (), static_cast<int32> (programLists.size ()));
	const bool first = !listed_;
	listed_ = true;
	ids_.resize (static_cast<std::size_t> (count));
	indexOf_.clear ();
	for (int32 i = 0; i < count; ++i)
	{
		ids_[static_cast<std::size_t> (i)] = infos[static_cast<std::size_t> (i)].id;
		indexOf_.emplace (infos[static_cast<std::size_t> (i)].id, i);
	}
	// Every value of the new list is published anew.
	values_.assign (static_cast<std::size_t> (count), -1.0);
	publishValues ();
	logInfo () << "[Outpost] Parameters published: " << count;
	if (first)
		return 0;
	return sameIds ? kParamTitlesChanged : (kParamTitlesChanged | kParamIdMappingChanged);
}

void ParameterListWriter::publishValues ()
{
	if (!controller_)
		return;
	for (std::size_t i = 0; i < ids_.size (); ++i)
	{
		const ParamValue value = controller_->getParamNormalized (ids_[i]);
		if (value != values_[i])
			publishValue (static_cast<int32> (i), value);
	}
}

void ParameterListWriter::publishValue (std::int32_t index, ParamValue value)
{
	values_[static_cast<std::size_t> (index)] = value;
	const ParamID id = ids_[static_cast<std::size_t> (index)];
	String128 text {};
	if (controller_->getParamStringByValue (id, value, text) != kResultOk)
		text[0] = 0;
	publishParameterValue (region_.values[index], id, value, text);
}

void ParameterListWriter::takeHostValues ()
{
	RingEntry entry {};
	while (popRing (region_.hostValues, entry))
	{
		if (!controller_ || entry.kind != static_cast<int32> (RingKind::SetValue) || !std::isfinite (entry.value))
			continue;
		const ParamValue value = std::clamp (entry.value, 0.0, 1.0);
		controller_->setParamNormalized (entry.id, value);
		const auto found = indexOf_.find (entry.id);
		if (found != indexOf_.end ())
			publishValue (found->second, controller_->getParamNormalized (entry.id));
	}
}

bool ParameterListWriter::serveRequest (bool wakeLinux)
{
	ParameterRequest& request = region_.request;
	return answerRequest (
	    request, wakeLinux, [] (std::int32_t) { return true; },
	    [&] (RequestArguments asked) { answer (asked, request); });
}

void ParameterListWriter::answer (RequestArguments asked, ParameterRequest& request)
{
	// The arguments come from the other process: a value must be a number.
	const ParamID id = asked.id;
	const std::int32_t index = asked.index;
	const double value = asked.value;
	if (!controller_ || !std::isfinite (value))
		return;
	switch (static_cast<ParameterRequestKind> (asked.kind))
	{
	case ParameterRequestKind::StringByValue:
	{
		String128 out {};
		request.result = controller_->getParamStringByValue (id, std::clamp (value, 0.0, 1.0), out);
		copyText (request.text, out);
		break;
	}
	case ParameterRequestKind::ValueByString:
	{
		ParamValue normalized = 0.0;
		request.result = controller_->getParamValueByString (id, asked.text, normalized);
		request.answerValue = normalized;
		break;
	}
	case ParameterRequestKind::NormalizedToPlain:
		request.answerValue = controller_->normalizedParamToPlain (id, std::clamp (value, 0.0, 1.0));
		request.result = kResultOk;
		break;
	case ParameterRequestKind::PlainToNormalized:
		request.answerValue = controller_->plainParamToNormalized (id, value);
		request.result = kResultOk;
		break;
	case ParameterRequestKind::ProgramName:
	{
		if (!units_)
			break;
		String128 out {};
		request.result = units_->getProgramName (static_cast<ProgramListID> (id), index, out);
		copyText (request.text, out);
		break;
	}
	default:
		break;
	}
}

} // namespace Tandem
