// The registry of this process's live processors: how controllers, views and
// watchers find an instance's shared file, latency and outpost by its id,
// without knowing the processor.
#pragma once

#include "pluginterfaces/base/funknown.h"
#include "pluginterfaces/base/ibstream.h"

#include <functional>
#include <mutex>

namespace Tandem {
struct ParameterData;
struct UICommand;
} // namespace Tandem

namespace Steinberg {
namespace QuillMarlow {

class LatencyCache;

// Whether an instance's outpost serves, or is being started, and how often
// it was restarted.
struct OutpostStatus
{
	bool serving = false;
	bool starting = false;
	bool linkUp = false;
	int32 restarts = 0;
};

// What a processor shows the registry. The regions are null while the
// instance has no file mapped; they change only under the registry's lock
// (InstanceRegistry::whileHeld).
class RegisteredInstance
{
public:
	virtual int32 instanceId () const = 0;
	virtual Tandem::UICommand* commandRegion () const = 0;
	virtual Tandem::ParameterData* parameterRegion () const = 0;
	// Taken by every poster into the command slot.
	virtual std::mutex& commandSlotLock () = 0;
	virtual LatencyCache& latencyCache () = 0;
	virtual OutpostStatus outpostStatus () const = 0;
	// Reads the served buses again, after outpost announced a change.
	virtual void rereadBuses () = 0;
	// How often the buses the host was given changed without it being told.
	virtual int32 busChanges () const = 0;
	// The served controller's own state, carried as the processor's state is.
	virtual tresult getControllerState (IBStream* stream) = 0;
	virtual tresult setControllerState (IBStream* stream) = 0;
	// Keeps the instance alive while a caller uses it outside the lock.
	virtual void hold () = 0;
	virtual void letGo () = 0;

protected:
	~RegisteredInstance () = default;
};

class InstanceRegistry
{
public:
	// Ids are unique in this process: they start at pid * 1000.
	static int32 nextId ();
	static void add (RegisteredInstance& instance);
	static void remove (RegisteredInstance& instance);
	// Runs `change` under the registry's lock: an instance maps and unmaps
	// its file so, since views look the mapping up through the registry.
	static void whileHeld (const std::function<void ()>& change);

	// Command region of the first instance whose file is mapped, or null.
	static Tandem::UICommand* findActiveUICommand ();
	// True while `ui` is the command region of a registered instance's
	// mapped file: a view checks this before it touches the region, which
	// goes away with the processor's `terminate` or destruction.
	static bool isUICommandMapped (const Tandem::UICommand* ui);
	// Id of the first instance whose file is mapped; false when none is.
	static bool findActiveInstanceId (int32& instanceId);
	// Id of the instance whose mapped command region `ui` is.
	static bool instanceIdOfUICommand (const Tandem::UICommand* ui, int32& instanceId);

	// The `with` calls run `use` under the registry's lock, so that the
	// instance cannot unmap its file meanwhile; false, without running it,
	// when the instance is gone (or has no file mapped). `use` must not call
	// back into the registry.
	// The command region, under the instance's command slot lock too.
	static bool withUICommand (int32 instanceId, const std::function<void (Tandem::UICommand&)>& use);
	static bool withLatencyCache (int32 instanceId, const std::function<void (LatencyCache&)>& use);
	static bool withParameters (int32 instanceId, const std::function<void (Tandem::ParameterData&)>& use);
	// Runs `use` holding the instance alive but not the lock (`use` may wait
	// for outpost).
	static bool withInstance (int32 instanceId, const std::function<void (RegisteredInstance&)>& use);

	// Whether the instance's outpost serves or is being started (so that
	// waiting for it makes sense); `up`: whether it serves.
	static bool outpostComing (int32 instanceId, bool& up);
	// Whether its link to outpost is up and how often outpost was restarted.
	static bool outpostStatus (int32 instanceId, bool& up, int32& restarts);
	static bool refreshBuses (int32 instanceId);
	static bool busChangeCount (int32 instanceId, int32& count);
};

} // namespace QuillMarlow
} // namespace Steinberg
