// The registry of live processors: how views, controllers and the watcher
// find an instance's shared file, latency and outpost by its id.
#include "plugin/processor.h"

#include "log/log.h"
#include "log/never_destroyed.h"

#include <algorithm>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {

namespace {

// Ids start at pid * 1000, computed in 32-bit arithmetic (it may wrap).
int32 firstInstanceId ()
{
	return static_cast<int32> (static_cast<uint32> (::getpid ()) * 1000u);
}

Tandem::NeverDestroyed<std::vector<QuillMarlowProcessor*>> registeredProcessors;
Tandem::NeverDestroyed<std::mutex> registryLock;

} // namespace

std::vector<QuillMarlowProcessor*>& QuillMarlowProcessor::s_activeInstances_ = registeredProcessors.get ();
std::mutex& QuillMarlowProcessor::s_instancesMutex_ = registryLock.get ();
std::atomic<int32> QuillMarlowProcessor::s_instanceCounter_ {firstInstanceId ()};

void QuillMarlowProcessor::registerInstance ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	s_activeInstances_.push_back (this);
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Registered (total: " << s_activeInstances_.size ()
	                   << ")";
}

void QuillMarlowProcessor::unregisterInstance ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto it = std::find (s_activeInstances_.begin (), s_activeInstances_.end (), this);
	if (it != s_activeInstances_.end ())
		s_activeInstances_.erase (it);
	// The registry is never destroyed: its memory goes when the last
	// processor does, so that unloading the library leaves nothing behind.
	if (s_activeInstances_.empty ())
		s_activeInstances_.shrink_to_fit ();
	Tandem::logInfo () << "[QuillMarlow #" << instanceId_ << "] Unregistered (remaining: "
	                   << s_activeInstances_.size () << ")";
}

template <typename Match>
QuillMarlowProcessor* QuillMarlowProcessor::findLocked (Match match)
{
	for (auto* processor : s_activeInstances_)
		if (match (*processor))
			return processor;
	return nullptr;
}

Tandem::UICommand* QuillMarlowProcessor::findActiveUICommand ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([] (const QuillMarlowProcessor& p) { return p.sharedMemory_.uiCommand () != nullptr; });
	return found ? found->sharedMemory_.uiCommand () : nullptr;
}

bool QuillMarlowProcessor::isUICommandMapped (const Tandem::UICommand* ui)
{
	int32 unused = 0;
	return instanceIdOfUICommand (ui, unused);
}

bool QuillMarlowProcessor::findActiveInstanceId (int32& instanceId)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([] (const QuillMarlowProcessor& p) { return p.sharedMemory_.uiCommand () != nullptr; });
	if (found)
		instanceId = found->instanceId_;
	return found != nullptr;
}

bool QuillMarlowProcessor::instanceIdOfUICommand (const Tandem::UICommand* ui, int32& instanceId)
{
	if (!ui)
		return false;
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([ui] (const QuillMarlowProcessor& p) { return p.sharedMemory_.uiCommand () == ui; });
	if (found)
		instanceId = found->instanceId_;
	return found != nullptr;
}

bool QuillMarlowProcessor::withLatencyCache (int32 instanceId, const std::function<void (LatencyCache&)>& use)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	if (found)
		use (found->latency_);
	return found != nullptr;
}

bool QuillMarlowProcessor::refreshBuses (int32 instanceId)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	if (found)
		found->readBusesFromOutpost ();
	return found != nullptr;
}

bool QuillMarlowProcessor::busChangeCount (int32 instanceId, int32& count)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	if (found)
		count = found->busChanges_.load ();
	return found != nullptr;
}

bool QuillMarlowProcessor::withUICommand (int32 instanceId, const std::function<void (Tandem::UICommand&)>& use)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	Tandem::UICommand* ui = found ? found->sharedMemory_.uiCommand () : nullptr;
	if (!ui)
		return false;
	// The processor's own threads post into the slot too.
	std::lock_guard<std::mutex> slot (found->slotLock_);
	use (*ui);
	return true;
}

bool QuillMarlowProcessor::withParameters (int32 instanceId, const std::function<void (Tandem::ParameterData&)>& use)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	Tandem::ParameterData* parameters = found ? found->sharedMemory_.parameterData () : nullptr;
	if (!parameters)
		return false;
	use (*parameters);
	return true;
}

bool QuillMarlowProcessor::outpostComing (int32 instanceId, bool& up)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	if (!found)
		return false;
	up = found->outpost_.serving ();
	return up || found->starting_.load ();
}

bool QuillMarlowProcessor::outpostStatus (int32 instanceId, bool& up, int32& restarts)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto* found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
	if (!found)
		return false;
	up = found->outpost_.linkUp ();
	restarts = found->outpost_.relaunchCount ();
	return true;
}

bool QuillMarlowProcessor::withProcessor (int32 instanceId, const std::function<void (QuillMarlowProcessor&)>& use)
{
	QuillMarlowProcessor* found = nullptr;
	{
		std::lock_guard<std::mutex> lock (s_instancesMutex_);
		found = findLocked ([instanceId] (const QuillMarlowProcessor& p) { return p.instanceId_ == instanceId; });
		if (found)
			found->addRef ();
	}
	if (!found)
		return false;
	use (*found);
	found->release ();
	return true;
}

} // namespace QuillMarlow
} // namespace Steinberg
