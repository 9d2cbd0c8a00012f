// Reading what outpost published in the parameter region: the list under
// its sequence and one value under its entry's. Everything read comes from
// the other process: counts are bounded by the arrays, texts are ended, a
// value that is no number is no value, and a writer that died half-way
// (its sequence left odd) makes the read fail after a bounded number of
// tries instead of waiting.
#pragma once

#include "protocol/parameter_layout.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

constexpr int kSequenceReadTries = 1000;

struct ValueCopy
{
	uint32 sequence;
	Vst::ParamID id;
	double value;
	double textValue;
	Vst::String128 text;
};

inline bool readValueEntry (const Tandem::ParameterValue& entry, ValueCopy& copy)
{
	for (int attempt = 0; attempt < kSequenceReadTries; ++attempt)
	{
		const uint32 before = entry.sequence.load (std::memory_order_acquire);
		// 0: never written. outpost publishes the list before its values, and
		// an empty entry's id 0 would pass for the first parameter's.
		if (before == 0)
			return false;
		if (before & 1u)
		{
			Tandem::cpuPause ();
			continue;
		}
		copy.id = entry.id;
		copy.value = entry.value;
		copy.textValue = entry.textValue;
		std::memcpy (copy.text, entry.text, sizeof copy.text);
		std::atomic_thread_fence (std::memory_order_acquire);
		if (entry.sequence.load (std::memory_order_relaxed) == before)
		{
			copy.sequence = before;
			Tandem::terminateText (copy.text);
			return std::isfinite (copy.value);
		}
	}
	return false;
}

struct ListCopy
{
	uint32 sequence = 0;
	std::vector<Vst::ParameterInfo> parameters;
	std::vector<Vst::UnitInfo> units;
	std::vector<Vst::ProgramListInfo> programLists;
};

// False when no list was published, or none could be read whole.
inline bool copyParameterList (const Tandem::ParameterList& list, ListCopy& copy)
{
	for (int attempt = 0; attempt < kSequenceReadTries; ++attempt)
	{
		const uint32 before = list.sequence.load (std::memory_order_acquire);
		if (before == 0)
			return false;
		if (before & 1u)
		{
			std::this_thread::yield ();
			continue;
		}
		const int32 count = Tandem::clampCount (list.count, Tandem::kMaxParameters);
		const int32 units = Tandem::clampCount (list.unitCount, Tandem::kMaxUnits);
		const int32 programLists = Tandem::clampCount (list.programListCount, Tandem::kMaxProgramLists);
		copy.parameters.resize (static_cast<size_t> (count));
		copy.units.resize (static_cast<size_t> (units));
		copy.programLists.resize (static_cast<size_t> (programLists));
		for (int32 i = 0; i < count; ++i)
			Tandem::readParameterInfo (list.parameters[i], copy.parameters[static_cast<size_t> (i)]);
		for (int32 i = 0; i < units; ++i)
			Tandem::readUnitInfo (list.units[i], copy.units[static_cast<size_t> (i)]);
		for (int32 i = 0; i < programLists; ++i)
			Tandem::readProgramListInfo (list.programLists[i], copy.programLists[static_cast<size_t> (i)]);
		std::atomic_thread_fence (std::memory_order_acquire);
		if (list.sequence.load (std::memory_order_relaxed) != before)
			continue;
		copy.sequence = before;
		return true;
	}
	return false;
}

} // namespace QuillMarlow
} // namespace Steinberg
