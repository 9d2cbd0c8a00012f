#include "held_edits.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

bool HeldEdits::hold (ParamID id, ParamValue value, Clock::time_point now)
{
	for (int32 i = 0; i < used_; ++i)
	{
		if (edits_[i].id == id)
		{
			edits_[i].value = value;
			return true;
		}
	}
	if (used_ == kCapacity)
		return false;
	edits_[used_++] = {id, value, now};
	held_.store (used_, std::memory_order_relaxed);
	return true;
}

void HeldEdits::hostSent (ParamID id)
{
	for (int32 i = 0; i < used_; ++i)
	{
		if (edits_[i].id == id)
		{
			remove (i);
			return;
		}
	}
}

void HeldEdits::release (ParameterChanges& changes, Clock::time_point now, bool all)
{
	for (int32 i = 0; i < used_;)
	{
		if ((all || now - edits_[i].since >= kEchoWait) && changes.setValue (edits_[i].id, edits_[i].value))
			remove (i);
		else
			++i;
	}
}

void HeldEdits::remove (int32 index)
{
	edits_[index] = edits_[--used_];
	held_.store (used_, std::memory_order_relaxed);
}

} // namespace Tandem
