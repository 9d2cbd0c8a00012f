// The seqlock of the shared file, both halves: one process writes a group
// of fields, the other copies them and keeps the copy only when no write
// ran meanwhile. Used by every region whose fields change together while
// the other side may read them (the parameter list and values, the MIDI
// mapping, the bus list, the editor's size).
//
// The sequence word is odd while the writer writes; each finished write
// leaves it even and different from before. A reader loads it (acquire),
// copies the fields with plain loads, fences (acquire) and loads it again:
// when it was even and has not changed, the copy is whole.
//
// The fields are written and read with plain stores and loads, by two
// processes: what keeps them in order is, on the writer's side, the release
// fence between marking the write and the first field (and the release
// store that ends it), and on the reader's side the acquire load before the
// first field and the acquire fence after the last. Both fences also keep
// the compiler from moving plain accesses across them; the hardware (x86-64
// on both sides) keeps stores in order with stores and loads with loads.
//
// A writer that died half-way leaves the word odd: readers give up after a
// bounded number of tries instead of waiting. Neither half allocates, locks
// or sleeps; a reader that finds a write in progress pauses the core, or,
// for a large copy (the parameter list), yields its thread to the writer.
#pragma once

#include "protocol/tandem_protocol.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <type_traits>

namespace Tandem {

// How often a reader tries before it gives up on a writer that keeps
// writing (or died half-way).
constexpr int kSequenceReadTries = 1000;

// Writer, first step: marks the write in progress. Returns the word before,
// which endSequencedWrite takes.
template <typename Word>
Word beginSequencedWrite (std::atomic<Word>& sequence)
{
	static_assert (std::is_integral<Word>::value, "a sequence word is an integer");
	const Word before = sequence.load (std::memory_order_relaxed);
	sequence.store (static_cast<Word> (before | 1), std::memory_order_relaxed);
	std::atomic_thread_fence (std::memory_order_release);
	return before;
}

// The word a finished write leaves: two above the last even one.
template <typename Word>
Word nextSequence (Word before)
{
	return static_cast<Word> (static_cast<std::uint32_t> (before | 1) + 1u);
}

// Writer, last step: publishes the fields written since
// beginSequencedWrite; `after` (even: its lowest bit is cleared) becomes the
// word readers compare.
template <typename Word>
void endSequencedWrite (std::atomic<Word>& sequence, Word after)
{
	sequence.store (static_cast<Word> (after & ~Word {1}), std::memory_order_release);
}

// Writer: `write()` under the sequence, which then advances by two.
template <typename Word, typename Write>
void writeSequenced (std::atomic<Word>& sequence, Write&& write)
{
	const Word before = beginSequencedWrite (sequence);
	write ();
	endSequencedWrite (sequence, nextSequence (before));
}

// Reader, first step: the word the copy is taken under.
template <typename Word>
Word beginSequencedRead (const std::atomic<Word>& sequence)
{
	return sequence.load (std::memory_order_acquire);
}

// Reader, last step: whether the copy taken since beginSequencedRead
// returned `begun` is whole (no write was in progress, none came).
template <typename Word>
bool endSequencedRead (const std::atomic<Word>& sequence, Word begun)
{
	std::atomic_thread_fence (std::memory_order_acquire);
	return (begun & 1) == 0 && sequence.load (std::memory_order_relaxed) == begun;
}

// What a reader does when it finds a write in progress: pause the core (a
// write of a few fields ends within it), or yield its thread (a long write).
enum class SequenceWait
{
	Pause,
	Yield
};

// Reader: calls `read()` until it copied the fields whole, at most `tries`
// times; `at` is the word of the copy. False when the writer kept writing
// (then what `read` copied is not to be used).
template <typename Word, typename Read>
bool readSequenced (const std::atomic<Word>& sequence, Read&& read, Word& at, int tries = kSequenceReadTries,
                    SequenceWait wait = SequenceWait::Pause)
{
	for (int attempt = 0; attempt < tries; ++attempt)
	{
		const Word begun = beginSequencedRead (sequence);
		if (begun & 1)
		{
			if (wait == SequenceWait::Yield)
				std::this_thread::yield ();
			else
				cpuPause ();
			continue;
		}
		read ();
		if (endSequencedRead (sequence, begun))
		{
			at = begun;
			return true;
		}
	}
	return false;
}

template <typename Word, typename Read>
bool readSequenced (const std::atomic<Word>& sequence, Read&& read, int tries = kSequenceReadTries,
                    SequenceWait wait = SequenceWait::Pause)
{
	Word at {};
	return readSequenced (sequence, read, at, tries, wait);
}

} // namespace Tandem
