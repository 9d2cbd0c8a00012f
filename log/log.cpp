#include "log/log.h"
#include "log/never_destroyed.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

namespace Tandem {

namespace {

constexpr std::size_t kSlotCount = 1024; // a power of two
constexpr std::size_t kLineLength = 240;

// Bounded multi-producer queue of fixed-size lines. Each slot's sequence
// number says whose turn it is: a producer claims a position with one
// compare-and-swap, writes the slot and publishes it; the consumer (one at a
// time, under the output lock) takes it and hands the slot to the next lap.
struct Slot
{
	std::atomic<std::size_t> sequence;
	bool error;
	char text[kLineLength];
};

struct AudioLines
{
	AudioLines ()
	{
		for (std::size_t i = 0; i < kSlotCount; ++i)
			slots[i].sequence.store (i, std::memory_order_relaxed);
	}
	Slot slots[kSlotCount];
	std::atomic<std::size_t> enqueue {0};
	std::size_t dequeue = 0; // under outputLock
	std::atomic<std::uint32_t> dropped {0};
};

// The module's state is never destroyed: exit handlers may still release
// objects that write lines or stop the writer (a host that quits with
// plug-ins alive).
AudioLines& audioLines ()
{
	static NeverDestroyed<AudioLines> lines;
	return lines.get ();
}

std::mutex& outputLock ()
{
	static NeverDestroyed<std::mutex> lock;
	return lock.get ();
}

void write (bool error, const char* text, std::size_t length)
{
	std::ostream& stream = error ? std::cerr : std::cout;
	stream.write (text, static_cast<std::streamsize> (length));
	stream.put ('\n');
	stream.flush ();
}

// Writes the handed-off lines; the caller holds outputLock.
void drainLocked ()
{
	AudioLines& q = audioLines ();
	for (;;)
	{
		Slot& slot = q.slots[q.dequeue % kSlotCount];
		if (slot.sequence.load (std::memory_order_acquire) != q.dequeue + 1)
			break;
		write (slot.error, slot.text, std::char_traits<char>::length (slot.text));
		slot.sequence.store (q.dequeue + kSlotCount, std::memory_order_release);
		++q.dequeue;
	}
	if (const std::uint32_t dropped = q.dropped.exchange (0, std::memory_order_relaxed))
	{
		char line[80];
		const int n = std::snprintf (line, sizeof line, "[Log] %u audio-thread lines lost (queue full)", dropped);
		write (true, line, static_cast<std::size_t> (n));
	}
}

void handOff (bool error, const char* format, va_list args)
{
	AudioLines& q = audioLines ();
	std::size_t position = q.enqueue.load (std::memory_order_relaxed);
	Slot* slot = nullptr;
	for (;;)
	{
		slot = &q.slots[position % kSlotCount];
		const std::size_t sequence = slot->sequence.load (std::memory_order_acquire);
		if (sequence == position)
		{
			if (q.enqueue.compare_exchange_weak (position, position + 1, std::memory_order_relaxed))
				break;
		}
		else if (sequence < position)
		{
			q.dropped.fetch_add (1, std::memory_order_relaxed);
			return;
		}
		else
		{
			position = q.enqueue.load (std::memory_order_relaxed);
		}
	}
	slot->error = error;
#if defined(__MINGW32__)
	__mingw_vsnprintf (slot->text, kLineLength, format, args);
#else
	std::vsnprintf (slot->text, kLineLength, format, args);
#endif
	slot->sequence.store (position + 1, std::memory_order_release);
}

// The writer thread and the count of its users. `lifecycle` is held across
// a whole start or stop, so a new first user waits for the old thread's end.
// The thread polls with a plain sleep: under Wine a timed wait on a
// condition is a round trip to the Wine server, a sleep is not.
// Never destroyed (see audioLines): a process that exits while a user holds
// the writer leaves its thread running until the process ends, and a user
// released from an exit handler still finds the thread to stop and join.
// Without users it owns no thread.
struct Writer
{
	std::mutex lifecycle;
	std::atomic<bool> stopping {false};
	int users = 0;
	std::thread thread;
};

Writer& writer ()
{
	static NeverDestroyed<Writer> w;
	return w.get ();
}

void writerLoop ()
{
	Writer& w = writer ();
	while (!w.stopping.load ())
	{
		std::this_thread::sleep_for (std::chrono::milliseconds (50));
		flushLog ();
	}
}

} // namespace

LogLine::~LogLine ()
{
	const std::string line = text_.str ();
	std::lock_guard<std::mutex> lock (outputLock ());
	drainLocked ();
	write (error_, line.data (), line.size ());
}

void logFromAudio (const char* format, ...)
{
	va_list args;
	va_start (args, format);
	handOff (false, format, args);
	va_end (args);
}

void logErrorFromAudio (const char* format, ...)
{
	va_list args;
	va_start (args, format);
	handOff (true, format, args);
	va_end (args);
}

void flushLog ()
{
	std::lock_guard<std::mutex> lock (outputLock ());
	drainLocked ();
}

AudioLogUser::AudioLogUser ()
{
	Writer& w = writer ();
	std::lock_guard<std::mutex> lifecycle (w.lifecycle);
	if (w.users++ == 0)
	{
		w.stopping = false;
		w.thread = std::thread (writerLoop);
	}
}

AudioLogUser::~AudioLogUser ()
{
	Writer& w = writer ();
	std::lock_guard<std::mutex> lifecycle (w.lifecycle);
	if (--w.users > 0)
		return;
	w.stopping = true;
	if (w.thread.joinable ())
		w.thread.join ();
	flushLog ();
}

} // namespace Tandem
