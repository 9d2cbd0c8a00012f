#include "spare_threads.h"

#include "linux_calls.h"

namespace Tandem {

SpareThreads::~SpareThreads ()
{
	std::vector<Parked> parked;
	{
		std::lock_guard<std::mutex> guard (lock_);
		parked.swap (parked_);
	}
	for (Parked& spare : parked)
	{
		{
			std::lock_guard<std::mutex> guard (spare.parking->lock);
			spare.parking->closed = true;
		}
		spare.parking->handed.notify_one ();
		spare.thread.join ();
	}
}

std::thread SpareThreads::launch (std::function<void ()> work)
{
	// Each thread handed out parks the next before it works.
	auto parkThenWork = [this, work = std::move (work)] {
		park ();
		work ();
	};
	Parked spare;
	{
		std::lock_guard<std::mutex> guard (lock_);
		if (!parked_.empty ())
		{
			spare = std::move (parked_.back ());
			parked_.pop_back ();
		}
	}
	if (!spare.parking)
		return std::thread (std::move (parkThenWork));
	{
		std::lock_guard<std::mutex> guard (spare.parking->lock);
		spare.parking->work = std::move (parkThenWork);
	}
	spare.parking->handed.notify_one ();
	return std::move (spare.thread);
}

void SpareThreads::park ()
{
	auto parking = std::make_shared<Parking> ();
	std::thread thread ([parking] {
		releaseUnusedStack ();
		std::function<void ()> work;
		{
			std::unique_lock<std::mutex> guard (parking->lock);
			parking->handed.wait (guard, [&parking] { return parking->work || parking->closed; });
			work = std::move (parking->work);
		}
		if (work)
			work ();
	});
	std::lock_guard<std::mutex> guard (lock_);
	parked_.push_back ({std::move (thread), std::move (parking)});
}

} // namespace Tandem
