// The served processor's latency and tail as the Linux side reads them:
// published when they change, and answered on GetLatency.
#pragma once

#include <cstdint>

#include "served_instance.h"

namespace Tandem {

class LatencyService
{
public:
	explicit LatencyService (ServedInstance& instance) : instance_ (instance) {}

	// Reads the latency and tail when they were never read, when the
	// plug-in announced a change, or when `readAgain`; and advances
	// latencyReport when they differ from what was published.
	void publish (bool readAgain);
	// GetLatency: read again, answered in parentWindow.
	void answer ();
	std::uint32_t latency () const { return latency_; }
	std::uint32_t tail () const { return tail_; }

private:
	ServedInstance& instance_;
	bool read_ = false;
	// What was last published; the Linux side starts from 0 and 0.
	std::uint32_t latency_ = 0;
	std::uint32_t tail_ = 0;
};

} // namespace Tandem
