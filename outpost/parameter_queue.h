// Parameter edits between outpost's two threads, without locks.
//
// ParameterRing is a fixed ring of edits for one producing and one consuming
// thread. ParameterQueue carries the controller's edits from the main thread
// to the audio thread: when its ring is full, the main thread keeps the
// newest value of each parameter aside and moves it in once there is room,
// so no edit is lost and the last value of a parameter always arrives last.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "pluginterfaces/vst/vsttypes.h"

namespace Tandem {

class ParameterChanges;

struct ParameterEdit
{
	Steinberg::Vst::ParamID id;
	Steinberg::Vst::ParamValue value;
};

class ParameterRing
{
public:
	// Capacity is rounded up to a power of two.
	explicit ParameterRing (std::size_t capacity);
	ParameterRing (const ParameterRing&) = delete;
	ParameterRing& operator= (const ParameterRing&) = delete;

	// Producer: false when the ring is full.
	bool push (const ParameterEdit& edit);
	// Consumer: the oldest edit without removing it; false when empty.
	bool peek (ParameterEdit& edit) const;
	// Consumer: removes the oldest edit.
	void drop ();
	bool pop (ParameterEdit& edit);
	// Either side; exact for the consumer, a snapshot for the producer.
	bool empty () const;

private:
	std::vector<ParameterEdit> slots_;
	std::size_t mask_;
	alignas (64) std::atomic<std::size_t> head_ {0}; // next to read, written by the consumer
	alignas (64) std::atomic<std::size_t> tail_ {0}; // next to write, written by the producer
};

class ParameterQueue
{
public:
	explicit ParameterQueue (std::size_t capacity = 1024);

	// Main thread.
	void post (Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value);
	// Moves edits kept aside into the ring as far as it has room.
	void moveHeld ();
	// Edits posted that the audio thread has not taken yet.
	bool hasPending () const { return !held_.empty () || !ring_.empty (); }

	// Audio thread: moves waiting edits into the block's changes, the last
	// value per parameter winning; an edit of a parameter the changes have
	// no room for stays queued for the next block. Returns the count taken.
	std::size_t drainInto (ParameterChanges& changes);
	// Audio thread: the oldest waiting edit, taken; false when none waits.
	bool take (ParameterEdit& edit) { return ring_.pop (edit); }

private:
	ParameterRing ring_;
	std::vector<ParameterEdit> held_; // main thread only; newer than anything in the ring
};

} // namespace Tandem
