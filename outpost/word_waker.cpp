#include "word_waker.h"

#include "linux_calls.h"
#include "protocol/futex.h"

#include <algorithm>

namespace Tandem {

namespace {

// The sleeps are ended by the words' changes; the time-out is a safety net.
constexpr std::int64_t kSafetyNetNs = 1000000000;
// Words past futex_waitv's limit are looked at this often.
constexpr std::int64_t kOverflowLookNs = 10000000;

} // namespace

// Where futex_waitv is missing: a thread that sleeps on its one word.
class WordWaker::OneWord
{
public:
	OneWord (std::atomic<std::int32_t>& word, HostThread& mainThread) : word_ (word)
	{
		thread_ = std::thread ([this, &mainThread] {
			releaseUnusedStack ();
			std::int32_t seen = word_.load (std::memory_order_acquire);
			while (running_.load (std::memory_order_relaxed))
			{
				futexWait (&word_, seen, kSafetyNetNs);
				const std::int32_t now = word_.load (std::memory_order_acquire);
				if (now == seen)
					continue;
				seen = now;
				mainThread.wake ();
			}
		});
	}
	~OneWord ()
	{
		running_ = false;
		futexWake (&word_);
		thread_.join ();
	}
	OneWord (const OneWord&) = delete;
	OneWord& operator= (const OneWord&) = delete;

	bool watches (const std::atomic<std::int32_t>& word) const { return &word == &word_; }

private:
	std::atomic<std::int32_t>& word_;
	std::atomic<bool> running_ {true};
	std::thread thread_;
};

WordWaker::WordWaker (HostThread& mainThread) : mainThread_ (mainThread) {}

WordWaker::~WordWaker ()
{
	running_ = false;
	rearm ();
	if (thread_.joinable ())
		thread_.join ();
	oneWords_.clear ();
}

void WordWaker::watch (std::atomic<std::int32_t>& word)
{
	std::lock_guard<std::mutex> guard (lock_);
	if (!probed_)
	{
		// No words: the kernel refuses the call, or does not know it.
		waitv_ = futexWaitv (nullptr, 0, 0) != LinuxCall::kNoSuchCall;
		probed_ = true;
	}
	if (!waitv_)
	{
		oneWords_.push_back (std::make_unique<OneWord> (word, mainThread_));
		return;
	}
	words_.push_back ({&word, word.load (std::memory_order_acquire)});
	if (thread_.joinable ())
	{
		rearm ();
		return;
	}
	running_ = true;
	thread_ = std::thread (&WordWaker::run, this);
}

void WordWaker::unwatch (std::atomic<std::int32_t>& word)
{
	std::unique_ptr<OneWord> gone;
	{
		std::lock_guard<std::mutex> guard (lock_);
		words_.erase (std::remove_if (words_.begin (), words_.end (),
		                              [&word] (const Watched& watched) { return watched.word == &word; }),
		              words_.end ());
		const auto own = std::find_if (oneWords_.begin (), oneWords_.end (),
		                               [&word] (const std::unique_ptr<OneWord>& one) { return one->watches (word); });
		if (own != oneWords_.end ())
		{
			gone = std::move (*own);
			oneWords_.erase (own);
		}
	}
	// A sleep that began with the word in it ends at once: it sleeps on
	// `listChanged_` too, read before the words.
	rearm ();
}

void WordWaker::rearm ()
{
	listChanged_.fetch_add (1, std::memory_order_release);
	futexWake (&listChanged_);
}

void WordWaker::run ()
{
	releaseUnusedStack ();
	std::vector<FutexWaiter> waiters;
	waiters.reserve (LinuxCall::kFutexWaitvMax);
	while (running_.load (std::memory_order_relaxed))
	{
		bool changed = false;
		std::int64_t timeout = kSafetyNetNs;
		{
			std::lock_guard<std::mutex> guard (lock_);
			waiters.clear ();
			waiters.push_back (futexWaiterOn (listChanged_, listChanged_.load (std::memory_order_acquire)));
			for (Watched& watched : words_)
			{
				const std::int32_t now = watched.word->load (std::memory_order_acquire);
				changed = changed || now != watched.seen;
				watched.seen = now;
				if (waiters.size () < LinuxCall::kFutexWaitvMax)
					waiters.push_back (futexWaiterOn (*watched.word, now));
				else
					timeout = kOverflowLookNs;
			}
		}
		if (changed)
			mainThread_.wake ();
		futexWaitv (waiters.data (), static_cast<std::uint32_t> (waiters.size ()), timeout);
	}
}

} // namespace Tandem
