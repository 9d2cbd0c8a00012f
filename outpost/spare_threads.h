// Threads started ahead of need. Under Wine a thread takes about 2 ms and
// 4 ms of CPU time to start; a group's outpost starts an audio thread for
// each instance that joins, dozens at once when it is started anew after a
// crash. The main thread hands each one's work to a thread already parked,
// and goes on to the next instance; the thread starts the next spare before
// its work, beside the main thread.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Tandem {

class SpareThreads
{
public:
	SpareThreads () = default;
	// Lets the parked threads end; the threads handed out are their
	// owners' to join, before this goes.
	~SpareThreads ();
	SpareThreads (const SpareThreads&) = delete;
	SpareThreads& operator= (const SpareThreads&) = delete;

	// A thread that runs `work`: a parked one when there is one, else a
	// new one.
	std::thread launch (std::function<void ()> work);

private:
	// Where a parked thread waits for its work.
	struct Parking
	{
		std::mutex lock;
		std::condition_variable handed;
		std::function<void ()> work;
		bool closed = false;
	};
	struct Parked
	{
		std::thread thread;
		std::shared_ptr<Parking> parking;
	};

	// Starts a thread that waits for work, and keeps it.
	void park ();

	std::mutex lock_;
	std::vector<Parked> parked_;
};

} // namespace Tandem
