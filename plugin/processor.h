// The plug-in's audio component. It has no DSP of its own: it runs outpost
// under Wine, hands every block to it through the shared file and forwards
// the served plug-in's state.
#pragma once

#include "plugin/chain_file.h"
#include "plugin/latency_cache.h"
#include "plugin/outpost_lifecycle.h"
#include "plugin/served_target.h"
#include "plugin/served_buses.h"
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
std::string getBundlePath();

class QuillMarlowProcessor : public Vst::AudioEffect
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
	tresult PLUGIN_API setState (IBStream* state) SMTG_OVERRIDE;
	tresult PLUGIN_API getState (IBStream* state) SMTG_OVERRIDE;
	tresult PLUGIN_API canProcessSampleSize (int32 symbolicSampleSize) SMTG_OVERRIDE;
	tresult PLUGIN_API setupProcessing (Vst::ProcessSetup& setup) SMTG_OVERRIDE;
	// The served processor follows it, on outpost's audio thread; safe on
	// the host's audio thread (no lock, no wait).
	tresult PLUGIN_API setProcessing (TBool state) SMTG_OVERRIDE;
	tresult PLUGIN_API process (Vst::ProcessData& data) SMTG_OVERRIDE;
	// The served processor's: the latency as outpost reported it at
	// activation, the tail as last reported (see LatencyCache).
	uint32 PLUGIN_API getLatencySamples () SMTG_OVERRIDE { return latency_.latency (); }
	uint32 PLUGIN_API getTailSamples () SMTG_OVERRIDE { return latency_.tail (); }
	// Tells the controller the host connects us with which processor it
	// belongs to (our instance id), so that its editor is ours; and starts
	// outpost in the background, since the controller and the editor need
	// the served plug-in long before the host activates us.
	tresult PLUGIN_API connect (IConnectionPoint* other) SMTG_OVERRIDE;

	// The served plug-in's buses (processor_buses.cpp): answered from the
	// list the host was given; the calls that change them reach the served
	// component once outpost runs, and are given again to a restarted one.
	int32 PLUGIN_API getBusCount (Vst::MediaType type, Vst::BusDirection dir) SMTG_OVERRIDE;
	tresult PLUGIN_API getBusInfo (Vst::MediaType type, Vst::BusDirection dir, int32 index,
	                               Vst::BusInfo& bus) SMTG_OVERRIDE;
	tresult PLUGIN_API getRoutingInfo (Vst::RoutingInfo& inInfo, Vst::RoutingInfo& outInfo) SMTG_OVERRIDE;
	tresult PLUGIN_API activateBus (Vst::MediaType type, Vst::BusDirection dir, int32 index,
	                                TBool state) SMTG_OVERRIDE;
	tresult PLUGIN_API setIoMode (Vst::IoMode mode) SMTG_OVERRIDE;
	tresult PLUGIN_API setBusArrangements (Vst::SpeakerArrangement* inputs, int32 numIns,
	                                       Vst::SpeakerArrangement* outputs, int32 numOuts) SMTG_OVERRIDE;
	tresult PLUGIN_API getBusArrangement (Vst::BusDirection dir, int32 index,
	                                      Vst::SpeakerArrangement& arr) SMTG_OVERRIDE;

	// Reads the served buses of the processor `instanceId` again, after
	// outpost announced a change of them; false when there is no such
	// processor.
	static bool refreshBuses (int32 instanceId);
	// How often the buses the host was given changed without the host being
	// told (outpost read other ones than the host had); false when there is
	// no such processor.
	static bool busChangeCount (int32 instanceId, int32& count);

	// Command region of the first registered processor whose shared file is
	// mapped, or null.
	static Tandem::UICommand* findActiveUICommand ();
	// True while `ui` is the command region of a registered processor's
	// mapped shared file: a view checks this before it touches the region,
	// which goes away with the processor's `terminate` or destruction.
	static bool isUICommandMapped (const Tandem::UICommand* ui);
	// Instance id of the first registered processor whose shared file is
	// mapped; false when there is none.
	static bool findActiveInstanceId (int32& instanceId);
	// Instance id of the processor whose mapped command region `ui` is.
	static bool instanceIdOfUICommand (const Tandem::UICommand* ui, int32& instanceId);
	// Runs `use` on the command region of the processor `instanceId` while
	// holding the registry lock, so that the processor cannot unmap it in
	// the meantime. False, without running `use`, when that processor is
	// gone or has no file mapped. `use` must not call back into the registry.
	static bool withUICommand (int32 instanceId, const std::function<void (Tandem::UICommand&)>& use);
	// Runs `use` on the latency cache of the processor `instanceId` while
	// holding the registry lock; false, without running it, when that
	// processor is gone. `use` must not call back into the registry.
	static bool withLatencyCache (int32 instanceId, const std::function<void (LatencyCache&)>& use);
	// Runs `use` on the parameter region of the processor `instanceId` while
	// holding the registry lock; false, without running it, when that
	// processor is gone or has no file mapped. `use` must not call back into
	// the registry.
	static bool withParameters (int32 instanceId, const std::function<void (Tandem::ParameterData&)>& use);
	// Whether the outpost of the processor `instanceId` serves, or is being
	// started (so that waiting for it makes sense).
	static bool outpostComing (int32 instanceId, bool& up);

	// Whether the outpost of the processor `instanceId` is up and how often
	// it was restarted; false when there is no such processor.
	static bool outpostStatus (int32 instanceId, bool& up, int32& restarts);
	// Runs `use` on the processor `instanceId`, holding a reference to it
	// but not the registry lock (`use` may wait for outpost); false, without
	// running it, when that processor is gone.
	static bool withProcessor (int32 instanceId, const std::function<void (QuillMarlowProcessor&)>& use);

	// The served controller's own state, for our controller's getState and
	// setState (processor_controller_state.cpp): through outpost as the
	// processor's state goes, in the same stream format (a size of 0 when the
	// served controller keeps none), and kept here like it.
	tresult getControllerState (IBStream* stream);
	tresult setControllerState (IBStream* stream);

	int32 instanceId () const { return instanceId_; }

protected:
	// Last chance to change how outpost is started; the product leaves the
	// configuration as built, tests point it at stand-in programs.
	virtual void adjustOutpostConfig (Tandem::OutpostConfig&) {}

	bool initSharedMemory ();
	void cleanupSharedMemory ();
	// Starts outpost and waits until it is ready, or until `stopping`.
	bool launchOutpost (const std::function<bool ()>& stopping = [] { return false; });
	void terminateOutpost ();

	const Tandem::SharedMemoryCreator& sharedMemory () const { return sharedMemory_; }
	// The running outpost's pid (-1 when none); the watcher may change it.
	pid_t outpostPid () const { return outpost_.pid (); }
	int32 audioOkCount () const { return audioOkCount_; }
	int32 timeoutCount () const { return timeoutCount_; }
	// Blocks whose post had to wake outpost (a futex call on the host's thread).
	int32 outpostWakeCount () const { return outpostWakeCount_; }

private:
	// The first registered processor that `match` accepts; the caller holds
	// the registry lock.
	template <typename Match>
	static QuillMarlowProcessor* findLocked (Match match);
	void registerInstance ();
	void unregisterInstance ();
	// Starts the watcher that restarts outpost and keeps the state current.
	void startWatch ();

	// Outpost before activation (processor_startup.cpp). The first of
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
	enum class ServedActivation { Active, Refused, NoAnswer };
	ServedActivation activateServed (const std::function<bool ()>& stopping);
	void deactivateServed ();
	// Hands the latest state to outpost; the caller holds stateLock_. True
	// when the served plug-in took it; `served` gets its result.
	bool sendStateToOutpost (const std::function<bool ()>& stopping, int32* served = nullptr);
	// The same for the served controller's own state, when we have one.
	bool sendControllerStateToOutpost (const std::function<bool ()>& stopping, int32* served = nullptr);
	// Reads a state in the host's stream format. `mayBeEmpty`: a stream with
	// nothing in it, or a size of 0, is no state (a project saved without one).
	enum class StateRead { Bytes, Empty, Failed };
	StateRead readState (IBStream* stream, std::vector<uint8>& bytes, bool mayBeEmpty) const;
	// The one line that says the served plug-in refused a state of ours.
	void reportRefusal (const char* what, int32 result, size_t size) const;
	// Whether a save gives back a refused state (see stateRefused_).
	bool keepsRefused (bool refused) const;
	// After states went to a new outpost: which of them it refused.
	void noteRefusals (int32 processorResult, int32 controllerResult);
	// Watcher: fetches the state after edits settled.
	void fetchSettledState (const std::function<bool ()>& stopping);
	// Posts a command once the slot is free (under slotLock_), until
	// `deadline` or `stopping`; then takes the slot anyway when `takeAnyway`.
	bool postWhenFree (Tandem::CommandCode code, std::chrono::steady_clock::time_point deadline,
	                   const std::function<bool ()>& stopping, bool takeAnyway);
	std::chrono::steady_clock::time_point postStateCommand (Tandem::CommandCode code,
	                                                        const std::function<bool ()>& stopping);
	// The host's parameter changes of a block (audio thread), into the
	// parameter region with the block.
	void sendParameterChanges (Vst::IParameterChanges* changes);
	// Buses (processor_buses.cpp). A bus command through the command slot:
	// `fill` writes the arguments; false when outpost gave no answer.
	bool busCommand (int32 code, const std::function<void (Tandem::BusRequest&)>& fill,
	                 Tandem::BusRequest* answer = nullptr,
	                 const std::function<bool ()>& stopping = [] { return false; });
	// Reads outpost's list into buses_; true when the host's buses changed.
	bool readBusesFromOutpost ();
	// After a launch: the host's bus calls given to the new outpost, then
	// its buses read; a host whose buses changed is told (busChanges_).
	void adoptServedBuses (const std::function<bool ()>& stopping);
	// Audio thread: a block of other buses than one each way with the same
	// channels, through the pools (false: nothing posted, passed through).
	void writeBusBlock (const Vst::ProcessData& data, int32 samples);
	void readBusBlock (Vst::ProcessData& data, int32 samples);
	// Audio thread: the host's events into the file, the served processor's
	// out of it; logs what was left out.
	void sendEvents (Vst::IEventList* events, int32 samples);
	void receiveEvents (Vst::IEventList* events, int32 samples);
	void logEventCuts (const Tandem::EventCuts& cuts, bool host);
	// Audio thread: every output bus from the input bus of its index, or
	// silence.
	static void passthroughBuses (Vst::ProcessData& data, int32 samples);
	// How long a real-time block of `samples` waits for outpost.
	Tandem::HandshakeClock::duration blockTimeout (int32 samples) const;
	bool writeState (IBStream* stream, const uint8* bytes, int32 size) const;

	Tandem::AudioLogUser logUser_;
	// What a made bundle's class serves; no module for the QuillMarlow class.
	ServedTarget served_;
	int32 instanceId_;
	LatencyCache latency_ {instanceId_};
	Tandem::SharedMemoryCreator sharedMemory_;
	std::mutex slotLock_;  // see lastState_
	OutpostLifecycle outpost_;
	double sampleRate_ = 44100.0;
	int32 maxSamplesPerBlock_ = 1024;
	// The host's activation and processing state, for a restarted outpost.
	std::atomic<bool> active_ {false};
	std::atomic<bool> processing_ {false};
	// Guards the start of outpost before activation; taken before
	// stateLock_. The background start holds it while it launches, so that
	// the host's calls that need outpost wait for it.
	std::mutex startLock_;
	bool startTried_ = false;
	bool launchPending_ = false;
	std::thread starter_;
	std::atomic<bool> cancelStart_ {false};
	// True while the background start runs.
	std::atomic<bool> starting_ {false};
	int32 processCallCount_ = 0;
	int32 timeoutCount_ = 0;
	int32 audioOkCount_ = 0;
	int32 pointsCutCount_ = 0;
	int32 eventCutCount_ = 0;

	// The buses the host is given (guarded by busLock_), and what the host
	// set, given again to a restarted outpost. busCommandLock_ serialises
	// the bus commands; taken before busLock_, never on the audio thread.
	std::mutex busLock_;
	std::mutex busCommandLock_;
	ServedBuses buses_;
	bool hostArranged_ = false;
	struct BusActivation
	{
		int32 kind;
		int32 index;
		bool state;
	};
	std::vector<BusActivation> hostActivations_;

	std::vector<Vst::SpeakerArrangement> hostInputs_, hostOutputs_;
	std::atomic<int32> hostIoMode_ {-1};
	std::atomic<int32> busChanges_ {0};
	// For the audio thread: event buses each way, channels the host's
	// buses may have in all (the file's pools).
	std::atomic<int32> eventInputBuses_ {0};
	std::atomic<int32> eventOutputBuses_ {0};
	// Audio thread: the host's events of a block, copied into the file
	// once written; the served processor's and their bytes, copied out of
	// it (valid until the next block).
	std::unique_ptr<Tandem::EventBlock> sentEvents_ = std::make_unique<Tandem::EventBlock> ();
	std::unique_ptr<Vst::Event[]> receivedEvents_ = std::make_unique<Vst::Event[]> (Tandem::kMaxEvents);
	std::vector<uint8> eventBytes_ = std::vector<uint8> (Tandem::kMaxEventBytes);
	// Audio thread: the buses and channels of the block in flight.
	int32 blockBuses_[2] = {};
	int32 blockChannels_[2][Tandem::kMaxAudioBuses] = {};
	int32 outpostWakeCount_ = 0;
	// Our slot in this process's chain file, from initSharedMemory to
	// cleanupSharedMemory.
	ChainFile::Place chain_;

	// Audio thread only: a block timed out and outpost may still be working
	// on it, so the slots are not ours until it has finished.
	bool awaitingLateBlock_ = false;
	// The last state the host gave us or outpost reported, kept so that
	// project loads before activation, saves while outpost is gone and
	// restarts lose nothing. stateLock_ guards it and the state region for
	// a whole exchange (host's thread or watcher); slotLock_ guards each
	// post into the command slot (all posters: views, host's thread,
	// watcher). Taken in this order; neither on the audio thread.
	std::vector<uint8> lastState_;
	// The same for the served controller's own state; empty while none is
	// known (or it keeps none).
	std::vector<uint8> lastControllerState_;
	// A state the served plug-in refused is what a save gives back (the
	// plug-in holds something else, which the project never had) until the
	// host sets another or an edit in the served editor makes the plug-in's
	// own the one to keep: refusedEdits_ is the edit count at the refusal.
	bool stateRefused_ = false;
	bool controllerStateRefused_ = false;
	int32 refusedEdits_ = 0;
	std::mutex stateLock_;

	// Never destroyed: a host may release processors from its exit
	// handlers, after this library's statics are gone.
	static std::vector<QuillMarlowProcessor*>& s_activeInstances_;
	static std::mutex& s_instancesMutex_;
	static std::atomic<int32> s_instanceCounter_;
};

} // namespace QuillMarlow
} // namespace Steinberg
