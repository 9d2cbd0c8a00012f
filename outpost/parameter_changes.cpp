#include "parameter_changes.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

tresult PLUGIN_API ParamValueQueue::getPoint (int32 index, int32& sampleOffset, ParamValue& value)
{
	if (index < 0 || index >= count_)
		return kInvalidArgument;
	sampleOffset = points_[index].offset;
	value = points_[index].value;
	return kResultOk;
}

tresult PLUGIN_API ParamValueQueue::addPoint (int32 sampleOffset, ParamValue value, int32& index)
{
	int32 at = count_;
	while (at > 0 && points_[at - 1].offset > sampleOffset)
		--at;
	if (at > 0 && points_[at - 1].offset == sampleOffset)
	{
		points_[at - 1].value = value;
		index = at - 1;
		return kResultOk;
	}
	if (count_ == kMaxPoints)
	{
		// Full: the newest value must survive, so it goes into the last point.
		if (at == count_)
		{
			points_[count_ - 1] = {sampleOffset, value};
			index = count_ - 1;
			return kResultOk;
		}
		return kResultFalse;
	}
	for (int32 i = count_; i > at; --i)
		points_[i] = points_[i - 1];
	points_[at] = {sampleOffset, value};
	++count_;
	index = at;
	return kResultOk;
}

bool ParamValueQueue::lastValue (ParamValue& value) const
{
	if (count_ == 0)
		return false;
	value = points_[count_ - 1].value;
	return true;
}

ParamValueQueue* PLUGIN_API ParameterChanges::getParameterData (int32 index)
{
	return queue (index);
}

ParamValueQueue* PLUGIN_API ParameterChanges::addParameterData (const ParamID& id, int32& index)
{
	int32 at = find (id);
	if (at < 0)
	{
		if (used_ == capacity ())
			return nullptr;
		at = used_++;
		queues_[at].reset (id);
	}
	index = at;
	return &queues_[at];
}

void ParameterChanges::reserve (int32 parameters)
{
	if (parameters > capacity ())
		queues_.resize (static_cast<std::size_t> (parameters));
}

bool ParameterChanges::canTake (ParamID id) const
{
	return used_ < capacity () || find (id) >= 0;
}

bool ParameterChanges::setValue (ParamID id, ParamValue value)
{
	int32 index = 0;
	ParamValueQueue* q = addParameterData (id, index);
	if (!q)
		return false;
	queues_[index].reset (id);
	int32 point = 0;
	return q->addPoint (0, value, point) == kResultOk;
}

int32 ParameterChanges::find (ParamID id) const
{
	for (int32 i = 0; i < used_; ++i)
		if (queues_[i].id () == id)
			return i;
	return -1;
}

} // namespace Tandem
