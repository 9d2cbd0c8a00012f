// The served controller's parameter list and values in the parameter region
// (parameter_data.h), both halves: outpost's main thread publishes the list
// under its sequence and each value under its entry's (seqlock.h); the
// Linux controller copies them. Everything the Linux side reads comes from
// the other process: counts are bounded by the arrays, texts are ended, a
// value that is no number is no value, and a writer that died half-way (its
// sequence left odd) makes the read fail after a bounded number of tries
// instead of waiting.
#pragma once

#include "protocol/parameter_layout.h"
#include "protocol/seqlock.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

namespace Tandem {

// outpost: publishes a list of `count` parameters (of the `reported` the
// served controller has), its units and program lists, each already read
// with its texts ended and at most as many as the region holds.
inline void publishParameterList (ParameterList& list, std::int32_t reported,
                                  const Steinberg::Vst::ParameterInfo* parameters, std::int32_t count,
                                  const Steinberg::Vst::UnitInfo* units, std::int32_t unitCount,
                                  const Steinberg::Vst::ProgramListInfo* programLists, std::int32_t programListCount)
{
	count = clampCount (count, kMaxParameters);
	unitCount = clampCount (unitCount, kMaxUnits);
	programListCount = clampCount (programListCount, kMaxProgramLists);
	writeSequenced (list.sequence, [&] {
		list.reportedCount = reported;
		list.count = count;
		list.unitCount = unitCount;
		list.programListCount = programListCount;
		for (std::int32_t i = 0; i < count; ++i)
			std::memcpy (list.parameters[i], &parameters[i], kParameterInfoSize);
		for (std::int32_t i = 0; i < unitCount; ++i)
			std::memcpy (list.units[i], &units[i], kUnitInfoSize);
		for (std::int32_t i = 0; i < programListCount; ++i)
			std::memcpy (list.programLists[i], &programLists[i], kProgramListInfoSize);
	});
}

// outpost: publishes the value of the parameter listed at an entry, with
// the served controller's string of it.
inline void publishParameterValue (ParameterValue& entry, Steinberg::Vst::ParamID id, double value,
                                   const Steinberg::Vst::String128 text)
{
	writeSequenced (entry.sequence, [&] {
		entry.id = id;
		entry.value = value;
		entry.textValue = value;
		copyText (entry.text, text);
	});
}

// Linux side: one value as published.
struct ValueCopy
{
	std::uint32_t sequence;
	Steinberg::Vst::ParamID id;
	double value;
	double textValue;
	Steinberg::Vst::String128 text;
};

// Linux side: false when the entry was never written, no whole copy could
// be taken or its value is no number.
inline bool readValueEntry (const ParameterValue& entry, ValueCopy& copy)
{
	// 0: never written. outpost publishes the list before its values, and an
	// empty entry's id 0 would pass for the first parameter's.
	if (entry.sequence.load (std::memory_order_acquire) == 0)
		return false;
	const bool whole = readSequenced (
	    entry.sequence,
	    [&] {
		    copy.id = entry.id;
		    copy.value = entry.value;
		    copy.textValue = entry.textValue;
		    std::memcpy (copy.text, entry.text, sizeof copy.text);
	    },
	    copy.sequence);
	if (!whole)
		return false;
	terminateText (copy.text);
	return std::isfinite (copy.value);
}

// Linux side: the list as published.
struct ListCopy
{
	std::uint32_t sequence = 0;
	std::vector<Steinberg::Vst::ParameterInfo> parameters;
	std::vector<Steinberg::Vst::UnitInfo> units;
	std::vector<Steinberg::Vst::ProgramListInfo> programLists;
};

// Linux side: false when no list was published, or none could be read
// whole. Not on the audio thread: the copy allocates, and a reader that
// finds outpost writing yields to it.
inline bool copyParameterList (const ParameterList& list, ListCopy& copy)
{
	if (list.sequence.load (std::memory_order_acquire) == 0)
		return false;
	return readSequenced (
	    list.sequence,
	    [&] {
		    const std::int32_t count = clampCount (list.count, kMaxParameters);
		    const std::int32_t units = clampCount (list.unitCount, kMaxUnits);
		    const std::int32_t programLists = clampCount (list.programListCount, kMaxProgramLists);
		    copy.parameters.resize (static_cast<std::size_t> (count));
		    copy.units.resize (static_cast<std::size_t> (units));
		    copy.programLists.resize (static_cast<std::size_t> (programLists));
		    for (std::int32_t i = 0; i < count; ++i)
			    readParameterInfo (list.parameters[i], copy.parameters[static_cast<std::size_t> (i)]);
		    for (std::int32_t i = 0; i < units; ++i)
			    readUnitInfo (list.units[i], copy.units[static_cast<std::size_t> (i)]);
		    for (std::int32_t i = 0; i < programLists; ++i)
			    readProgramListInfo (list.programLists[i], copy.programLists[static_cast<std::size_t> (i)]);
	    },
	    copy.sequence, kSequenceReadTries, SequenceWait::Yield);
}

} // namespace Tandem
