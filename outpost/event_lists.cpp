#include "event_lists.h"

#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

tresult PLUGIN_API InputEventList::getEvent (int32 index, Event& e)
{
	if (index < 0 || index >= count_)
		return kInvalidArgument;
	e = events_[index];
	return kResultOk;
}

// The served processor may add to its input list, as to any list.
tresult PLUGIN_API InputEventList::addEvent (Event& e)
{
	if (count_ == kMaxEvents)
		return kResultFalse;
	events_[count_++] = e;
	return kResultOk;
}

void InputEventList::read (const EventBlock& block, std::int32_t numSamples, std::int32_t busCount, EventCuts& cuts)
{
	count_ = readEvents (block, numSamples, busCount, bytes_, events_, cuts);
}

void InputEventList::touchHead ()
{
	std::memset (events_, 0, sizeof events_[0] * kTouchedEvents);
	std::memset (bytes_, 0, kTouchedEventBytes);
}

void OutputEventList::touchHead ()
{
	std::memset (staged_.records, 0, kEventRecordSize * kTouchedEvents);
	std::memset (staged_.bytes, 0, kTouchedEventBytes);
}

tresult PLUGIN_API OutputEventList::getEvent (int32 index, Event& e)
{
	if (index < 0 || index >= writer_.count ())
		return kInvalidArgument;
	std::memcpy (&e, staged_.records[index], sizeof e);
	if (const std::size_t slot = eventBytesSlot (e.type))
	{
		std::uint64_t at = 0;
		std::memcpy (&at, staged_.records[index] + slot, sizeof at);
		const std::uint8_t* bytes = staged_.bytes + at;
		std::memcpy (reinterpret_cast<std::uint8_t*> (&e) + slot, &bytes, sizeof bytes);
	}
	return kResultOk;
}

tresult PLUGIN_API OutputEventList::addEvent (Event& e)
{
	return writer_.add (e) ? kResultOk : kResultFalse;
}

} // namespace Tandem
