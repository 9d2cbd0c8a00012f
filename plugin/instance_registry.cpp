#include "plugin/instance_registry.h"

#include "log/log.h"
#include "log/never_destroyed.h"

#include <algorithm>
#include <atomic>
#include <unistd.h>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

namespace {

// Ids start at pid * 1000, computed in 32-bit arithmetic (it may wrap).
int32 firstInstanceId ()
{
	return static_cast<int32> (static_cast<uint32> (::getpid ()) * 1000u);
}

// Never destroyed: a host may release processors from its exit handlers,
// after this library's statics are gone.
Tandem::NeverDestroyed<std::vector<RegisteredInstance*>> registered;
Tandem::NeverDestroyed<std::mutex> registryLock;
std::atomic<int32> instanceCounter {firstInstanceId ()};

// The first registered instance that `match` accepts; the caller holds the
// registry lock.
template <typename Match>
RegisteredInstance* findLocked (Match match)
{
	for (auto* instance : registered.get ())
		if (match (*instance))
			return instance;
	return nullptr;
}

RegisteredInstance* findLocked (int32 instanceId)
{
	return findLocked ([instanceId] (const RegisteredInstance& i) { return i.instanceId () == instanceId; });
}

RegisteredInstance* firstMappedLocked ()
{
	return findLocked ([] (const RegisteredInstance& i) { return i.commandRegion () != nullptr; });
}

} // namespace

int32 InstanceRegistry::nextId ()
{
	return instanceCounter.fetch_add (1);
}

void InstanceRegistry::add (RegisteredInstance& instance)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	registered.get ().push_back (&instance);
	Tandem::logInfo () << "[QuillMarlow #" << instance.instanceId ()
	                   << "] Registered (total: " << registered.get ().size () << ")";
}

void InstanceRegistry::remove (RegisteredInstance& instance)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto& all = registered.get ();
	auto it = std::find (all.begin (), all.end (), &instance);
	if (it != all.end ())
		all.erase (it);
	// The registry is never destroyed: its memory goes when the last
	// instance does, so that unloading the library leaves nothing behind.
	if (all.empty ())
		all.shrink_to_fit ();
	Tandem::logInfo () << "[QuillMarlow #" << instance.instanceId () << "] Unregistered (remaining: " << all.size ()
	                   << ")";
}

void InstanceRegistry::whileHeld (const std::function<void ()>& change)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	change ();
}

Tandem::UICommand* InstanceRegistry::findActiveUICommand ()
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = firstMappedLocked ();
	return found ? found->commandRegion () : nullptr;
}

bool InstanceRegistry::isUICommandMapped (const Tandem::UICommand* ui)
{
	int32 unused = 0;
	return instanceIdOfUICommand (ui, unused);
}

bool InstanceRegistry::findActiveInstanceId (int32& instanceId)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = firstMappedLocked ();
	if (found)
		instanceId = found->instanceId ();
	return found != nullptr;
}

bool InstanceRegistry::instanceIdOfUICommand (const Tandem::UICommand* ui, int32& instanceId)
{
	if (!ui)
		return false;
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = findLocked ([ui] (const RegisteredInstance& i) { return i.commandRegion () == ui; });
	if (found)
		instanceId = found->instanceId ();
	return found != nullptr;
}

bool InstanceRegistry::withUICommand (int32 instanceId, const std::function<void (Tandem::UICommand&)>& use)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = findLocked (instanceId);
	Tandem::UICommand* ui = found ? found->commandRegion () : nullptr;
	if (!ui)
		return false;
	// The instance's own threads post into the slot too.
	std::lock_guard<std::mutex> slot (found->commandSlotLock ());
	use (*ui);
	return true;
}

bool InstanceRegistry::withLatencyCache (int32 instanceId, const std::function<void (LatencyCache&)>& use)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = findLocked (instanceId);
	if (found)
		use (found->latencyCache ());
	return found != nullptr;
}

bool InstanceRegistry::withParameters (int32 instanceId, const std::function<void (Tandem::ParameterData&)>& use)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = findLocked (instanceId);
	Tandem::ParameterData* parameters = found ? found->parameterRegion () : nullptr;
	if (!parameters)
		return false;
	use (*parameters);
	return true;
}

bool InstanceRegistry::withInstance (int32 instanceId, const std::function<void (RegisteredInstance&)>& use)
{
	RegisteredInstance* found = nullptr;
	{
		std::lock_guard<std::mutex> lock (registryLock.get ());
		found = findLocked (instanceId);
		if (found)
			found->hold ();
	}
	if (!found)
		return false;
	use (*found);
	found->letGo ();
	return true;
}

bool InstanceRegistry::outpostComing (int32 instanceId, bool& up)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = findLocked (instanceId);
	if (!found)
		return false;
	const OutpostStatus status = found->outpostStatus ();
	up = status.serving;
	return up || status.starting;
}

bool InstanceRegistry::outpostStatus (int32 instanceId, bool& up, int32& restarts)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = findLocked (instanceId);
	if (!found)
		return false;
	const OutpostStatus status = found->outpostStatus ();
	up = status.linkUp;
	restarts = status.restarts;
	return true;
}

bool InstanceRegistry::refreshBuses (int32 instanceId)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = findLocked (instanceId);
	if (found)
		found->rereadBuses ();
	return found != nullptr;
}

bool InstanceRegistry::busChangeCount (int32 instanceId, int32& count)
{
	std::lock_guard<std::mutex> lock (registryLock.get ());
	auto* found = findLocked (instanceId);
	if (found)
		count = found->busChanges ();
	return found != nullptr;
}

} // namespace QuillMarlow
} // namespace Steinberg
