#include "plugin/latency_watcher.h"

#include "plugin/command_region_link.h"
#include "plugin/latency_cache.h"
#include "plugin/instance_registry.h"

#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

LatencyWatcher::LatencyWatcher ()
: RunLoopTimer (kIntervalMs, "[QuillMarlowController] Host run loop refused a timer: latency changes will not reach "
                             "the host")
{
}

LatencyWatcher::~LatencyWatcher ()
{
	useRunLoopOf (nullptr);
	setHostHandler (nullptr);
}

void LatencyWatcher::setHostHandler (Vst::IComponentHandler* hostHandler)
{
	if (hostHandler)
		hostHandler->addRef ();
	if (hostHandler_)
		hostHandler_->release ();
	hostHandler_ = hostHandler;
}

void LatencyWatcher::follow (int32 instanceId)
{
	following_ = true;
	instanceId_ = instanceId;
	seen_ = -1;
}

bool LatencyWatcher::check ()
{
	if (!following_ || !hostHandler_)
		return false;
	// outpost read other buses than the host was given: the host reads them again.
	int32 busChanges = 0;
	if (InstanceRegistry::busChangeCount (instanceId_, busChanges) && busChanges != busChangesSeen_)
	{
		busChangesSeen_ = busChanges;
		Tandem::logInfo () << "[QuillMarlowController] The served plug-in's buses differ from the ones the host has: "
		                      "restartComponent(kIoChanged)";
		hostHandler_->restartComponent (Vst::kIoChanged);
	}
	// The region lies in the processor's file, which may be unmapped.
	const CommandRegionLink region = CommandRegionLink::toProcessor (instanceId_);
	int32 count = 0;
	if (!region.with (
	        [&count] (Tandem::UICommand& ui) { count = ui.latencyReport.load (std::memory_order_acquire); }) ||
	    count == seen_)
		return false;
	seen_ = count;
	uint32 latency = 0, tail = 0, reported = 0;
	auto readReported = [&reported] (LatencyCache& cache) { reported = cache.latency (); };
	if (!askServedLatency (region, latency, tail) || !InstanceRegistry::withLatencyCache (instanceId_, readReported))
		return false;
	if (latency == reported)
	{
		asked_ = -1;
		InstanceRegistry::withLatencyCache (instanceId_, [tail] (LatencyCache& cache) { cache.takeTail (tail); });
		return false;
	}
	if (asked_ == latency)
		return false;
	asked_ = latency;
	Tandem::logInfo () << "[QuillMarlowController] Served plug-in's latency changed from " << reported << " to "
	                   << latency << " samples: asking the host to restart the plug-in";
	return hostHandler_->restartComponent (Vst::kLatencyChanged) == kResultOk;
}

} // namespace QuillMarlow
} // namespace Steinberg
