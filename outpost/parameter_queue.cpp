#include "parameter_queue.h"

#include "parameter_changes.h"

namespace Tandem {

namespace {

std::size_t powerOfTwoAtLeast (std::size_t n)
{
	std::size_t size = 2;
	while (size < n)
		size *= 2;
	return size;
}

} // namespace

ParameterRing::ParameterRing (std::size_t capacity) : slots_ (powerOfTwoAtLeast (capacity)), mask_ (slots_.size () - 1)
{
}

bool ParameterRing::push (const ParameterEdit& edit)
{
	const std::size_t tail = tail_.load (std::memory_order_relaxed);
	if (tail - head_.load (std::memory_order_acquire) == slots_.size ())
		return false;
	slots_[tail & mask_] = edit;
	tail_.store (tail + 1, std::memory_order_release);
	return true;
}

bool ParameterRing::peek (ParameterEdit& edit) const
{
	const std::size_t head = head_.load (std::memory_order_relaxed);
	if (head == tail_.load (std::memory_order_acquire))
		return false;
	edit = slots_[head & mask_];
	return true;
}

void ParameterRing::drop ()
{
	head_.store (head_.load (std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool ParameterRing::pop (ParameterEdit& edit)
{
	if (!peek (edit))
		return false;
	drop ();
	return true;
}

bool ParameterRing::empty () const
{
	return head_.load (std::memory_order_acquire) == tail_.load (std::memory_order_acquire);
}

ParameterQueue::ParameterQueue (std::size_t capacity) : ring_ (capacity) {}

void ParameterQueue::post (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value)
{
	moveHeld ();
	if (held_.empty () && ring_.push ({id, value}))
		return;
	// Behind edits already kept aside, or no room: keep the newest value.
	for (ParameterEdit& edit : held_)
	{
		if (edit.id == id)
		{
			edit.value = value;
			return;
		}
	}
	held_.push_back ({id, value});
}

void ParameterQueue::moveHeld ()
{
	std::size_t moved = 0;
	while (moved < held_.size () && ring_.push (held_[moved]))
		++moved;
	held_.erase (held_.begin (), held_.begin () + static_cast<std::ptrdiff_t> (moved));
}

std::size_t ParameterQueue::drainInto (ParameterChanges& changes)
{
	std::size_t taken = 0;
	ParameterEdit edit {};
	while (ring_.peek (edit) && changes.canTake (edit.id))
	{
		changes.setValue (edit.id, edit.value);
		ring_.drop ();
		++taken;
	}
	return taken;
}

} // namespace Tandem
