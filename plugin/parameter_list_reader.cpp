#include "plugin/parameter_list_reader.h"

#include "plugin/parameter_list_copy.h"
#include "plugin/instance_registry.h"

#include "log/log.h"
#include "protocol/parameter_request.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace Steinberg {
namespace QuillMarlow {

namespace {

const char* requestName (Tandem::ParameterRequestKind kind)
{
	switch (kind)
	{
	case Tandem::ParameterRequestKind::StringByValue:
		return "getParamStringByValue";
	case Tandem::ParameterRequestKind::ValueByString:
		return "getParamValueByString";
	case Tandem::ParameterRequestKind::NormalizedToPlain:
		return "normalizedParamToPlain";
	case Tandem::ParameterRequestKind::PlainToNormalized:
		return "plainParamToNormalized";
	case Tandem::ParameterRequestKind::ProgramName:
		return "getProgramName";
	case Tandem::ParameterRequestKind::MidiControllerAssignment:
		return "getMidiControllerAssignment";
	case Tandem::ParameterRequestKind::NoteExpressionCount:
		return "getNoteExpressionCount";
	case Tandem::ParameterRequestKind::NoteExpressionInfo:
		return "getNoteExpressionInfo";
	case Tandem::ParameterRequestKind::NoteExpressionString:
		return "getNoteExpressionStringByValue";
	case Tandem::ParameterRequestKind::NoteExpressionValue:
		return "getNoteExpressionValueByString";
	case Tandem::ParameterRequestKind::KeyswitchCount:
		return "getKeyswitchCount";
	case Tandem::ParameterRequestKind::KeyswitchInfo:
		return "getKeyswitchInfo";
	case Tandem::ParameterRequestKind::PhysicalUIMapping:
		return "getPhysicalUIMapping";
	case Tandem::ParameterRequestKind::MidiLearn:
		return "onLiveMIDIControllerInput";
	case Tandem::ParameterRequestKind::UnitByBus:
		return "getUnitByBus";
	}
	return "request";
}

} // namespace

void ParameterListReader::follow (int32 instanceId)
{
	instanceId_ = instanceId;
	following_ = true;
	copied_ = false;
	bool up = false;
	InstanceRegistry::outpostStatus (instanceId_, up, relaunches_);
	setListening (listening_);
}

void ParameterListReader::setListening (bool listening)
{
	listening_ = listening;
	if (following_)
		InstanceRegistry::withParameters (instanceId_, [listening] (Tandem::ParameterData& region) {
			region.request.hostListens.store (listening ? 1 : 0, std::memory_order_relaxed);
		});
}

bool ParameterListReader::copyList (Tandem::ParameterData& region)
{
	ListCopy copy;
	if (!copyParameterList (region.list, copy))
		return false;
	sequence_ = copy.sequence;
	parameters_ = std::move (copy.parameters);
	units_ = std::move (copy.units);
	programLists_ = std::move (copy.programLists);
	const int32 count = this->count ();
	indexOf_.clear ();
	for (int32 i = 0; i < count; ++i)
		indexOf_.emplace (parameters_[static_cast<size_t> (i)].id, i);
	values_.assign (static_cast<size_t> (count), 0.0);
	for (int32 i = 0; i < count; ++i)
	{
		ValueCopy entry {};
		const Vst::ParameterInfo& info = parameters_[static_cast<size_t> (i)];
		values_[static_cast<size_t> (i)] =
		    readValueEntry (region.values[i], entry) && entry.id == info.id ? entry.value : info.defaultNormalizedValue;
	}
	overrides_.clear ();
	return true;
}

int32 ParameterListReader::refresh (bool wait)
{
	if (!following_)
		return 0;
	const auto deadline = std::chrono::steady_clock::now () + kStartWait;
	for (;;)
	{
		bool published = false;
		int32 flags = 0;
		InstanceRegistry::withParameters (instanceId_, [&] (Tandem::ParameterData& region) {
			region.request.hostListens.store (listening_ ? 1 : 0, std::memory_order_relaxed);
			const uint32 sequence = region.list.sequence.load (std::memory_order_acquire);
			published = sequence != 0;
			if (!published || (copied_ && sequence == sequence_))
				return;
			const bool first = !copied_;
			const std::vector<Vst::ParameterInfo> before = parameters_;
			if (!copyList (region))
				return;
			copied_ = true;
			if (first)
				return;
			bool sameIds = before.size () == parameters_.size ();
			bool same = sameIds;
			for (size_t i = 0; sameIds && i < before.size (); ++i)
			{
				sameIds = before[i].id == parameters_[i].id;
				same = same && std::memcmp (&before[i], &parameters_[i], sizeof before[i]) == 0;
			}
			if (!sameIds)
				flags = Vst::kParamTitlesChanged | Tandem::kParamIdMappingChanged;
			else if (!same)
				flags = Vst::kParamTitlesChanged;
		});
		if (!wait || copied_)
			return flags;
		// outpost publishes its list before it reports ready, and may be
		// writing it right now.
		bool up = false;
		if ((!published && !InstanceRegistry::outpostComing (instanceId_, up)) ||
		    std::chrono::steady_clock::now () >= deadline)
			return flags;
		std::this_thread::sleep_for (std::chrono::milliseconds (2));
	}
}

bool ParameterListReader::followRelaunch ()
{
	bool up = false;
	int32 relaunches = 0;
	if (!following_ || !InstanceRegistry::outpostStatus (instanceId_, up, relaunches) || !up ||
	    relaunches == relaunches_)
		return false;
	relaunches_ = relaunches;
	Tandem::logInfo () << "[QuillMarlowController] outpost was relaunched: giving it back " << hostSet_.size ()
	                   << " values the host set";
	for (const auto& set : hostSet_)
		setValue (set.first, set.second);
	return true;
}

bool ParameterListReader::known (Vst::ParamID id, int32& index)
{
	// A host may set or read a value before it asked for the list.
	if (!copied_)
		refresh (true);
	const auto found = indexOf_.find (id);
	if (found == indexOf_.end ())
		return false;
	index = found->second;
	return true;
}

bool ParameterListReader::info (int32 index, Vst::ParameterInfo& info) const
{
	if (index < 0 || index >= count ())
		return false;
	info = parameters_[static_cast<size_t> (index)];
	return true;
}

Vst::ParamValue ParameterListReader::value (Vst::ParamID id)
{
	int32 index = 0;
	if (!known (id, index))
		return 0.0;
	ValueCopy entry {};
	bool read = false;
	InstanceRegistry::withParameters (instanceId_, [&] (Tandem::ParameterData& region) {
		read = readValueEntry (region.values[index], entry) && entry.id == id;
	});
	const auto overridden = overrides_.find (id);
	if (overridden != overrides_.end ())
	{
		// Set here, and outpost has not published since.
		if (!read || entry.sequence == overridden->second.sequence)
			return overridden->second.value;
		overrides_.erase (overridden);
	}
	if (read)
		values_[static_cast<size_t> (index)] = entry.value;
	return values_[static_cast<size_t> (index)];
}

tresult ParameterListReader::setValue (Vst::ParamID id, Vst::ParamValue value)
{
	int32 index = 0;
	if (!known (id, index) || !std::isfinite (value))
		return kInvalidArgument;
	value = std::clamp (value, 0.0, 1.0);
	uint32 sequence = 0;
	const bool sent = InstanceRegistry::withParameters (instanceId_, [&] (Tandem::ParameterData& region) {
		sequence = region.values[index].sequence.load (std::memory_order_acquire);
		sendHeldValues (region);
		const Tandem::RingEntry entry {static_cast<int32> (Tandem::RingKind::SetValue), id, value};
		if (!heldValues_.empty () || !Tandem::pushRing (region.hostValues, entry))
		{
			// The newest value of a parameter replaces one kept before.
			auto same = std::find_if (heldValues_.begin (), heldValues_.end (),
			                          [id] (const Tandem::RingEntry& e) { return e.id == id; });
			if (same != heldValues_.end ())
				same->value = value;
			else
				heldValues_.push_back (entry);
		}
		Tandem::wakeOutpostMainThread (region.request);
	});
	overrides_[id] = {value, sequence};
	values_[static_cast<size_t> (index)] = value;
	hostSet_[id] = value;
	return sent ? kResultOk : kResultFalse;
}

void ParameterListReader::sendHeldValues (Tandem::ParameterData& region)
{
	size_t moved = 0;
	while (moved < heldValues_.size () && Tandem::pushRing (region.hostValues, heldValues_[moved]))
		++moved;
	heldValues_.erase (heldValues_.begin (), heldValues_.begin () + static_cast<std::ptrdiff_t> (moved));
}

void ParameterListReader::edited (Vst::ParamID id, Vst::ParamValue value)
{
	int32 index = 0;
	if (!known (id, index) || !std::isfinite (value))
		return;
	uint32 sequence = 0;
	InstanceRegistry::withParameters (instanceId_, [&] (Tandem::ParameterData& region) {
		sequence = region.values[index].sequence.load (std::memory_order_acquire);
	});
	overrides_[id] = {value, sequence};
	values_[static_cast<size_t> (index)] = value;
}

bool ParameterListReader::withRegion (const RegionAccess& use)
{
	return following_ && InstanceRegistry::withParameters (instanceId_, use);
}

bool ParameterListReader::ask (Tandem::ParameterRequestKind kind, Vst::ParamID id, double value, int32 index,
                               const Vst::TChar* text, Tandem::ParameterRequest& answer, const RegionAccess& post,
                               const RegionAccess& take)
{
	if (!following_)
		return false;
	bool answered = false;
	bool busy = false;
	InstanceRegistry::withParameters (instanceId_, [&] (Tandem::ParameterData& region) {
		Tandem::ParameterRequest& request = region.request;
		// An earlier request is still unanswered: a late answer is waited
		// for, one that never came (silenceReported_) is not.
		const Tandem::RequestTurn turn = Tandem::askRequest (
		    request, kind, id, value, index, text, !silenceReported_, kAnswerWait,
		    [&] {
			    if (post)
				    post (region);
		    },
		    [&] {
			    answer.result = request.result;
			    answer.answerValue = request.answerValue;
			    std::memcpy (answer.text, request.text, sizeof answer.text);
			    if (take)
				    take (region);
		    });
		busy = turn == Tandem::RequestTurn::Busy;
		answered = turn == Tandem::RequestTurn::Answered;
	});
	if (answered)
	{
		silenceReported_ = false;
		return true;
	}
	if (!silenceReported_)
	{
		if (busy)
			Tandem::logError () << "[QuillMarlowController] The served plug-in has still not answered an earlier "
			                       "request: the host gets no answer from it until it does";
		else
			Tandem::logError () << "[QuillMarlowController] The served plug-in did not answer " << requestName (kind)
			                    << " within " << kAnswerWait.count ()
			                    << " ms: the host gets no answer from it until it does";
	}
	silenceReported_ = true;
	return false;
}

tresult ParameterListReader::stringByValue (Vst::ParamID id, Vst::ParamValue value, Vst::String128 string)
{
	int32 index = 0;
	if (!string || !known (id, index))
		return kInvalidArgument;
	// Hosts mostly show the current value: outpost published its string.
	ValueCopy entry {};
	bool current = false;
	InstanceRegistry::withParameters (instanceId_, [&] (Tandem::ParameterData& region) {
		current = readValueEntry (region.values[index], entry) && entry.id == id && entry.textValue == value;
	});
	if (current)
	{
		std::memcpy (string, entry.text, sizeof entry.text);
		return kResultOk;
	}
	Tandem::ParameterRequest answer {};
	if (!ask (Tandem::ParameterRequestKind::StringByValue, id, value, 0, nullptr, answer) || answer.result != kResultOk)
		return kResultFalse;
	Tandem::copyText (string, answer.text);
	return kResultOk;
}

tresult ParameterListReader::valueByString (Vst::ParamID id, const Vst::TChar* string, Vst::ParamValue& value)
{
	int32 index = 0;
	if (!string || !known (id, index))
		return kInvalidArgument;
	Vst::String128 text {};
	for (int32 i = 0; i < Tandem::kTextLength - 1 && string[i]; ++i)
		text[i] = string[i];
	Tandem::ParameterRequest answer {};
	if (!ask (Tandem::ParameterRequestKind::ValueByString, id, 0.0, 0, text, answer) || answer.result != kResultOk ||
	    !std::isfinite (answer.answerValue))
		return kResultFalse;
	value = std::clamp (answer.answerValue, 0.0, 1.0);
	return kResultOk;
}

Vst::ParamValue ParameterListReader::toPlain (Vst::ParamID id, Vst::ParamValue normalized)
{
	int32 index = 0;
	Tandem::ParameterRequest answer {};
	if (!known (id, index) ||
	    !ask (Tandem::ParameterRequestKind::NormalizedToPlain, id, normalized, 0, nullptr, answer) ||
	    !std::isfinite (answer.answerValue))
		return normalized;
	return answer.answerValue;
}

Vst::ParamValue ParameterListReader::toNormalized (Vst::ParamID id, Vst::ParamValue plain)
{
	int32 index = 0;
	Tandem::ParameterRequest answer {};
	if (!known (id, index) || !ask (Tandem::ParameterRequestKind::PlainToNormalized, id, plain, 0, nullptr, answer) ||
	    !std::isfinite (answer.answerValue))
		return std::clamp (plain, 0.0, 1.0);
	return std::clamp (answer.answerValue, 0.0, 1.0);
}

bool ParameterListReader::unit (int32 index, Vst::UnitInfo& info) const
{
	if (index < 0 || index >= unitCount ())
		return false;
	info = units_[static_cast<size_t> (index)];
	return true;
}

bool ParameterListReader::programList (int32 index, Vst::ProgramListInfo& info) const
{
	if (index < 0 || index >= programListCount ())
		return false;
	info = programLists_[static_cast<size_t> (index)];
	return true;
}

tresult ParameterListReader::programName (Vst::ProgramListID list, int32 index, Vst::String128 name)
{
	if (!name)
		return kInvalidArgument;
	Tandem::ParameterRequest answer {};
	if (!ask (Tandem::ParameterRequestKind::ProgramName, static_cast<Vst::ParamID> (list), 0.0, index, nullptr,
	          answer) ||
	    answer.result != kResultOk)
		return kResultFalse;
	Tandem::copyText (name, answer.text);
	return kResultOk;
}

bool ParameterListReader::nextEdit (Tandem::RingEntry& entry)
{
	bool taken = false;
	if (following_)
		InstanceRegistry::withParameters (instanceId_, [&] (Tandem::ParameterData& region) {
			// The file may have been made after we were told whether the
			// host listens.
			region.request.hostListens.store (listening_ ? 1 : 0, std::memory_order_relaxed);
			sendHeldValues (region);
			taken = Tandem::popRing (region.edits, entry);
		});
	return taken;
}

} // namespace QuillMarlow
} // namespace Steinberg
