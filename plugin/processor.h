// The plug-in's audio component. It has no DSP of its own: it runs outpost
// under Wine, hands every block to it through the shared file and forwards
// the served plug-in's state.
#pragma once

#include "plugin/block_exchange.h"
#include "plugin/chain_file.h"
#include "plugin/host_buses.h"
#include "plugin/instance_registry.h"
#include "plugin/latency_cache.h"
#include "plugin/outpost_lifecycle.h"
#include "plugin/served_target.h"
#include "plugin/served_buses.h"
#include "plugin/served_state.h"
#include "plugin/shared_memory.h"

#include "log/log.h"
#include "protocol/block_events.h"
#include "protocol/handshake.h"

#include "public.sdk/source/vst/vstaudioeffect.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Steinberg {
namespace QuillMarlow {

// Directory of the bundle that holds the loaded plug-in library; empty when
// it cannot be found.
std::string getBundlePath ();

class QuillMarlowProcessor : public Vst::AudioEffect, public RegisteredInstance
{
public:
	QuillMarlowProcessor ();
	// A processor of a made bundle: its outpost serves `target`.
	explicit QuillMarlowProcessor (const ServedTarget& target);
	~QuillMarlowProcessor () override;

	static FUnknown* createInstance (void* context);
	static FUnknown* createServed (const ServedTarget& target);

	tresult PLUGIN_API initialize (FUnknown* context) SMTG_OVERRIDE;
	tresult PLUGIN_API terminate () SMTG_OVERRIDE;
	tresult PLUGIN_API setActive (TBool state) SMTG_OVERRIDE;
	// The served plug-in's state (see ServedState); before activation too.
	tresult PLUGIN_API setState (IBStream* state) SMTG_OVERRIDE
	{
		return state_.setState (state, [this] { ensureOutpost (); });
	}
	tresult PLUGIN_API getState (IBStream* state) SMTG_OVERRIDE
	{
		return state_.getState (state, [this] { ensureOutpost (); });
	}
	tresult PLUGIN_API canProcessSampleSize (int32 symbolicSampleSize) SMTG_OVERRIDE
	{
		return buses_.canProcessSampleSize (symbolicSampleSize);
	}
	tresult PLUGIN_API setupProcessing (Vst::ProcessSetup& setup) SMTG_OVERRIDE;
	// The served processor follows it, on outpost's audio thread; safe on
	// the host's audio thread (no lock, no wait).
	tresult PLUGIN_API setProcessing (TBool state) SMTG_OVERRIDE;
	tresult PLUGIN_API process (Vst::ProcessData& data) SMTG_OVERRIDE
	{
		return blocks_.process (data, sampleRate_, processSetup.processMode == Vst::kOffline);
	}
	// The served processor's: the latency as outpost reported it at
	// activation, the tail as last reported (see LatencyCache).
	uint32 PLUGIN_API getLatencySamples () SMTG_OVERRIDE { return latency_.latency (); }
	uint32 PLUGIN_API getTailSamples () SMTG_OVERRIDE { return latency_.tail (); }
	// Tells the controller the host connects us with which processor it
	// belongs to (our instance id), so that its editor is ours; and starts
	// outpost in the background, since the controller and the editor need
	// the served plug-in long before the host activates us.
	tresult PLUGIN_API connect (IConnectionPoint* other) SMTG_OVERRIDE;

	// The served plug-in's buses (see HostBuses).
	int32 PLUGIN_API getBusCount (Vst::MediaType type, Vst::BusDirection dir) SMTG_OVERRIDE
	{
		return buses_.getBusCount (type, dir);
	}
	tresult PLUGIN_API getBusInfo (Vst::MediaType type, Vst::BusDirection dir, int32 index,
	                               Vst::BusInfo& bus) SMTG_OVERRIDE
	{
		return buses_.getBusInfo (type, dir, index, bus);
	}
	tresult PLUGIN_API getRoutingInfo (Vst::RoutingInfo& inInfo, Vst::RoutingInfo& outInfo) SMTG_OVERRIDE
	{
		return buses_.getRoutingInfo (inInfo, outInfo);
	}
	tresult PLUGIN_API activateBus (Vst::MediaType type, Vst::BusDirection dir, int32 index, TBool state) SMTG_OVERRIDE
	{
		return buses_.activateBus (type, dir, index, state);
	}
	tresult PLUGIN_API setIoMode (Vst::IoMode mode) SMTG_OVERRIDE { return buses_.setIoMode (mode); }
	tresult PLUGIN_API setBusArrangements (Vst::SpeakerArrangement* inputs, int32 numIns,
	                                       Vst::SpeakerArrangement* outputs, int32 numOuts) SMTG_OVERRIDE
	{
		return buses_.setBusArrangements (inputs, numIns, outputs, numOuts, [this] { ensureOutpost (); });
	}
	tresult PLUGIN_API getBusArrangement (Vst::BusDirection dir, int32 index,
	                                      Vst::SpeakerArrangement& arr) SMTG_OVERRIDE
	{
		return buses_.getBusArrangement (dir, index, arr);
	}

	// The served controller's own state, for our controller's getState and
	// setState: through outpost as the
	// processor's state goes, in the same stream format (a size of 0 when the
	// served controller keeps none), and kept here like it.
	tresult getControllerState (IBStream* stream) override
	{
		return state_.getControllerState (stream, [this] { ensureOutpost (); });
	}
	tresult setControllerState (IBStream* stream) override
	{
		return state_.setControllerState (stream, [this] { ensureOutpost (); });
	}

	// What the registry shows of us.
	int32 instanceId () const override { return instanceId_; }
	Tandem::UICommand* commandRegion () const override { return sharedMemory_.uiCommand (); }
	Tandem::ParameterData* parameterRegion () const override { return sharedMemory_.parameterData (); }
	std::mutex& commandSlotLock () override { return slotLock_; }
	LatencyCache& latencyCache () override { return latency_; }
	OutpostStatus outpostStatus () const override;
	void rereadBuses () override { buses_.readFromOutpost (); }
	int32 busChanges () const override { return buses_.changes (); }
	void hold () override { addRef (); }
	void letGo () override { release (); }

protected:
	// Last chance to change how outpost is started; the product leaves the
	// configuration as built, tests point it at stand-in programs.
	virtual void adjustOutpostConfig (Tandem::OutpostConfig&) {}

	bool initSharedMemory ();
	void cleanupSharedMemory ();
	// Starts outpost and waits until it is ready, or until `stopping`.
	bool launchOutpost (const std::function<bool ()>& stopping = [] { return false; });
	void terminateOutpost ();
	void leaveGroup ();

	const Tandem::SharedMemoryCreator& sharedMemory () const { return sharedMemory_; }
	// The running outpost's pid (-1 when none); the watcher may change it.
	pid_t outpostPid () const { return outpost_.pid (); }
	int32 audioOkCount () const { return blocks_.audioOkCount (); }
	int32 timeoutCount () const { return blocks_.timeoutCount (); }
	int32 outpostWakeCount () const { return blocks_.outpostWakeCount (); }

private:
	// Starts the watcher that restarts outpost and keeps the state current.
	void startWatch ();

	// Outpost before activation. The first of
	// connect, setState, getState and setActive starts it; connect in the
	// background. The callers hold startLock_.
	// Creates the file for a first start; true when a launch is pending.
	bool prepareFirstStart ();
	// Carries out a pending launch (at most one).
	void finishPendingStart (const std::function<bool ()>& stopping);
	// Starts outpost if it never was; true when it runs and serves.
	bool ensureOutpost ();
	// Launches outpost on the mapped file and gives it the latest state.
	bool launchAndRestore (const std::function<bool ()>& stopping);
	// Cancels and joins a background start (no lock held).
	void stopBackgroundStart ();

	// The host's activation of the served processor
	// (processor_activation.cpp).
	enum class ServedActivation
	{
		Active,
		Refused,
		NoAnswer
	};
	ServedActivation activateServed (const std::function<bool ()>& stopping);
	void deactivateServed ();

	Tandem::AudioLogUser logUser_;
	// What a made bundle's class serves; no module for the QuillMarlow class.
	ServedTarget served_;
	int32 instanceId_;
	LatencyCache latency_ {instanceId_};
	Tandem::SharedMemoryCreator sharedMemory_;
	// The group the instance is served in; empty: an outpost of its own.
	std::string group_;
	// Taken by every poster into the command slot: views, the host's thread,
	// the watcher.
	std::mutex slotLock_;
	OutpostLifecycle outpost_;
	HostBuses buses_ {instanceId_, sharedMemory_, outpost_, slotLock_};
	double sampleRate_ = 44100.0;
	int32 maxSamplesPerBlock_ = 1024;
	// The host's activation and processing state, for a restarted outpost.
	std::atomic<bool> active_ {false};
	std::atomic<bool> processing_ {false};
	// Guards the start of outpost before activation; taken before the
	// state's lock. The background start holds it while it launches, so that
	// the host's calls that need outpost wait for it.
	std::mutex startLock_;
	bool startTried_ = false;
	bool launchPending_ = false;
	std::thread starter_;
	std::atomic<bool> cancelStart_ {false};
	// True while the background start runs.
	std::atomic<bool> starting_ {false};

	// Our slot in this process's chain file, from initSharedMemory to
	// cleanupSharedMemory.
	ChainFile::Place chain_;
	BlockExchange blocks_ {instanceId_, sharedMemory_, outpost_, buses_, chain_};
	ServedState state_ {instanceId_, sharedMemory_, outpost_, slotLock_};
};

} // namespace QuillMarlow
} // namespace Steinberg
