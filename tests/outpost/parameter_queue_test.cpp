// The parameter queue between outpost's main thread and its audio thread:
// one thread posts many edits while another drains them block by block into
// the changes a processor gets. None may be lost, each block carries the
// last value of each parameter, and draining never allocates.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "parameter_changes.h"
#include "parameter_queue.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using Tandem::ParameterChanges;
using Tandem::ParameterQueue;

namespace {
thread_local long t_allocations = 0;
}

// Counts the allocations of each thread.
void* operator new (std::size_t size)
{
	++t_allocations;
	if (void* p = std::malloc (size ? size : 1))
		return p;
	throw std::bad_alloc ();
}
void* operator new (std::size_t size, std::align_val_t align)
{
	++t_allocations;
	const std::size_t a = static_cast<std::size_t> (align);
	if (void* p = std::aligned_alloc (a, (size + a - 1) / a * a))
		return p;
	throw std::bad_alloc ();
}
// Out of line: GCC 12 at -Os inlines a delete next to the test's new and
// then takes the free for a mismatch.
[[gnu::noinline]] static void freeCounted (void* p) noexcept
{
	std::free (p);
}
void operator delete (void* p) noexcept
{
	freeCounted (p);
}
void operator delete (void* p, std::size_t) noexcept
{
	freeCounted (p);
}
void operator delete (void* p, std::align_val_t) noexcept
{
	freeCounted (p);
}
void operator delete (void* p, std::size_t, std::align_val_t) noexcept
{
	freeCounted (p);
}

TEST (ParameterQueue, EditsFromOneThreadDrainedPerBlockByAnotherArriveAllInOrderLastValueWinning)
{
	constexpr int kParameters = 8;
	constexpr int kEditsPerParameter = 20000;
	// A small ring, so that the main thread's side must keep edits aside.
	ParameterQueue queue (64);
	ParameterChanges changes;
	changes.reserve (kParameters);

	std::atomic<bool> posted {false};
	std::thread mainThread ([&] {
		for (int n = 1; n <= kEditsPerParameter; ++n)
			for (int p = 0; p < kParameters; ++p)
				queue.post (static_cast<ParamID> (p), n / double (kEditsPerParameter));
		while (queue.hasPending ())
		{
			queue.moveHeld ();
			std::this_thread::yield ();
		}
		posted = true;
	});

	std::vector<double> last (kParameters, 0.0);
	long allocations = 0, blocks = 0, badBlocks = 0, backwards = 0;
	std::thread audioThread ([&] {
		const long before = t_allocations;
		for (bool done = false; !done;)
		{
			done = posted.load (); // a final drain after the last post
			changes.clear ();
			queue.drainInto (changes);
			++blocks;
			for (int32 i = 0; i < changes.getParameterCount (); ++i)
			{
				IParamValueQueue* q = changes.getParameterData (i);
				int32 offset = -1;
				ParamValue value = -1.0;
				if (q->getPointCount () != 1 || q->getPoint (0, offset, value) != kResultOk || offset != 0 ||
				    q->getParameterId () >= kParameters)
				{
					++badBlocks;
					continue;
				}
				if (value < last[q->getParameterId ()])
					++backwards;
				last[q->getParameterId ()] = value;
			}
		}
		allocations = t_allocations - before;
	});
	mainThread.join ();
	audioThread.join ();

	EXPECT_GT (blocks, 1);
	EXPECT_EQ (badBlocks, 0) << "one point per parameter and block, at offset 0";
	EXPECT_EQ (backwards, 0) << "an older value arrived after a newer one";
	for (int p = 0; p < kParameters; ++p)
		EXPECT_EQ (last[p], 1.0) << "parameter " << p << " lost its last edit";
	EXPECT_EQ (allocations, 0) << "the draining side allocated";
}
