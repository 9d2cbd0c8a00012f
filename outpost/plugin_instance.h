// PluginInstance: outpost's handle on the served plug-in. It creates and
// connects the plug-in's component and controller, runs its audio and moves
// its state. Window and editor handling lives in the Win32-only part.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "event_lists.h"
#include "held_edits.h"
#include "parameter_changes.h"
#include "parameter_queue.h"
#include "protocol/bus_data.h"
#include "protocol/parameter_data.h"
#include "instance_state.h"
#include "served_editor.h"

namespace Tandem {

class ComponentHandler;
class HostApplication;

// One direction of a block's audio as the host gave it: `busCount` buses
// whose channels lie one after another from `base`, `stride` bytes apart.
struct BlockAudio
{
	std::uint8_t* base = nullptr;
	std::size_t stride = 0;
	std::int32_t busCount = 0;
	std::int32_t channels[kMaxAudioBuses] = {};
	std::uint64_t silence[kMaxAudioBuses] = {};
};

// The served component's audio buses (channel counts) and event buses, as
// the audio thread builds its blocks from them.
struct ServedLayout
{
	std::int32_t audioBuses[2] = {};
	std::int32_t channels[2][kMaxAudioBuses] = {};
	std::int32_t eventBuses[2] = {};
};

// What the host gave with one block, and what the served processor gave
// back beside the audio.
struct HostBlock
{
	// The host's setProcessing, followed before the block is processed.
	bool processing = true;
	Steinberg::int32 processMode = Steinberg::Vst::kRealtime;
	// Null when the host gave no context.
	Steinberg::Vst::ProcessContext* context = nullptr;
	std::uint64_t inputSilenceFlags = 0;
	std::uint64_t outputSilenceFlags = 0;
	// The host's parameter changes (kMaxInputPoints at most).
	const ParameterPoint* inputPoints = nullptr;
	std::int32_t inputPointCount = 0;
	// The host hears the controller's edits and sends them back: they wait
	// for that (see HeldEdits) instead of reaching the processor at once.
	bool holdEdits = false;
	// Room for the processor's changes (kMaxOutputPoints), and their count.
	ParameterPoint* outputPoints = nullptr;
	std::int32_t outputPointCount = 0;
	// The host's events, and room for the processor's (null: none).
	const EventBlock* inputEvents = nullptr;
	EventBlock* outputEvents = nullptr;
};

class PluginInstance
{
public:
	// `classId` (32 hex digits, as FUID writes it) names the audio class to
	// create; empty: the factory's last audio class.
	explicit PluginInstance (Steinberg::IPluginFactory* factory, std::string classId = {});
	~PluginInstance ();
	PluginInstance (const PluginInstance&) = delete;
	PluginInstance& operator= (const PluginInstance&) = delete;

	// Creates, initialises, synchronises and connects component and
	// controller. True when the component exists and is initialised.
	bool createInstance ();

	// The host's activation (main thread): sets the processor up with the
	// host's setup and activates it (deactivating it first when it is
	// active). The audio thread leaves the processor alone meanwhile: its
	// blocks pass through. kResultOk, or what the plug-in refused with.
	Steinberg::tresult activate (const Steinberg::Vst::ProcessSetup& setup);
	// Stops its processing, then deactivates it (main thread).
	void deactivate ();
	// Audio thread (or any thread while it does not run): processing
	// started or stopped as the host says, once the processor is active.
	void followProcessing (bool processing);
	// Activation at `sampleRate` in real time, processing started: what a
	// host does before its first block.
	bool setupAudio (double sampleRate, std::int32_t maxBlockSize);

	// Audio thread. Channel c of the input/output lies c * kMaxBlockSize
	// floats after the pointer. Counts are clamped to the slot bounds
	// before use. Without `host`: real time, no context, no silence.
	bool processAudio (const float* input, float* output, std::int32_t numSamples, std::int32_t numChannels,
	                   HostBlock* host = nullptr);
	// Audio thread: a block of any buses. The served processor gets each of
	// its buses with its own channel count: channels the host did not give
	// read silence, those it did not ask for are written nowhere, and host
	// channels beyond the served ones come back silent. `sampleSize` is
	// VST 3's; a block of a size the processor was not set up for passes
	// through. Counts are clamped before use.
	bool processBlock (std::int32_t numSamples, std::int32_t sampleSize, BlockAudio& input, BlockAudio& output,
	                   HostBlock* host = nullptr);

	// Buses (main thread). Activates the buses the served component flags
	// active by default (and the main audio buses, as before), once after
	// creation.
	void activateDefaultBuses ();
	// Writes the served component's buses, and the sample sizes its
	// processor takes, into `list`; the audio thread builds its blocks from
	// them from now on.
	void publishBuses (BusList& list);
	// The host's activation of a bus, passed to the served component and
	// kept for the bus list (the host's other bus calls go straight to the
	// component or processor: see BusService).
	Steinberg::tresult activateBus (const BusRequest& request);
	// Audio thread: hands every edit waiting in the queue to the processor
	// in a process() call of 0 samples, the way VST 3 delivers parameters
	// without audio. False when the processor is not set up to process.
	bool flushParameterChanges ();

	// Parameter edits (main thread). The controller's edits wait in a queue
	// for the audio thread; hasPendingEdits tells whether some have not been
	// taken yet. serviceParameters, once per main-loop turn, moves edits kept
	// aside into the queue and gives the controller the values the
	// processor reported.
	bool hasPendingEdits () const { return toProcessor_.hasPending () || !heldEdits_.empty (); }
	void serviceParameters ();
	// Grows with every edit the controller reports; 0 without a controller.
	std::uint32_t changeCount () const;
	// The host's side of the controller's edits (main thread): they go
	// into `ring` while `listening` is 1 (see ComponentHandler::relayTo).
	void relayEditsTo (Ring* ring, const std::atomic<Steinberg::int32>* listening);
	void flushEditRelay ();
	// restartComponent flags about parameters announced since the last call.
	Steinberg::int32 takeParameterAnnouncement ();
	// The other restart flags announced since the last call.
	Steinberg::int32 takeOtherAnnouncement ();
	// A restart the host should hear of, after what the edits said so far.
	void relayRestart (Steinberg::int32 flags);
	// Latency and tail (main thread): what the processor returns now. False,
	// leaving both alone, before audio is set up.
	bool readLatency (std::uint32_t& latency, std::uint32_t& tail) const;
	// True once after the plug-in announced that its latency (or its I/O,
	// or all of it) changed.
	bool takeLatencyAnnouncement ();

	// The component's and the controller's state (main thread).
	InstanceState state () const { return InstanceState (component_, controller_, singleObject_); }

	// The served editor and its windows (main thread only), made when it is
	// first asked for.
	ServedEditor& editor ();
	bool hasEditor () const { return editor_ && editor_->hasView (); }

	Steinberg::Vst::IComponent* component () const { return component_; }
	// The processor interface of the component (null when it has none).
	Steinberg::Vst::IAudioProcessor* processor ();
	Steinberg::Vst::IEditController* controller () const { return controller_; }
	bool isAudioSetup () const { return audioSetup_; }
	bool isProcessing () const { return processing_; }

private:
	// Undoes the connection createInstance made between component and
	// controller (destructor).
	void disconnectComponents ();
	// Gives the controller outpost's component handler (createInstance).
	void connectComponentHandler ();
	// Audio thread: the block's changes, the host's and the controller's
	// edits (which wait for the host's echo when it hears them).
	void gatherChanges (const HostBlock& host, std::int32_t numSamples);
	// Audio thread: sends the last value of each parameter the processor
	// reported to the main thread, and all of them to the host.
	void collectOutputChanges (HostBlock* host = nullptr);
	// Reads the served buses into the audio thread's layout, and into
	// `list` when given (main thread).
	void readLayout (BusList* list = nullptr);
	// Brings in the pages that blocks of up to `maxSamples` use in the
	// instance's own storage (see event_lists.h), before audio runs.
	void touchAudioPages (std::int32_t maxSamples);
	// Audio thread: the block as it came, each output bus from the input
	// bus of its index (silence where there is none).
	static void passThrough (std::int32_t numSamples, std::size_t sampleBytes, const BlockAudio& input,
	                         BlockAudio& output);
	// Audio thread: logs the events a block left out (first occurrences,
	// then every 1000th).
	static void logEventCuts (const EventCuts& in, const EventCuts& out);
	// Main thread: takes the processor from the audio thread (its blocks
	// pass through from now on) and waits until it is outside.
	void suspendAudio ();
	// Inside the audio thread's turn: processing started or stopped.
	void applyProcessing (bool processing);
	// The audio thread's turn with the processor: inside for the turn's
	// length; `ready` tells whether the processor may be used.
	class AudioTurn
	{
	public:
		explicit AudioTurn (PluginInstance& instance);
		~AudioTurn ();
		bool ready () const { return ready_; }

	private:
		PluginInstance& instance_;
		bool ready_;
	};

	Steinberg::IPluginFactory* factory_;
	std::string classId_;
	Steinberg::Vst::IComponent* component_ = nullptr;
	Steinberg::Vst::IEditController* controller_ = nullptr;
	HostApplication* hostApplication_ = nullptr;
	std::unique_ptr<ServedEditor> editor_;
	Steinberg::Vst::IAudioProcessor* audioProcessor_ = nullptr;
	// True while the processor is active and the audio thread may use it;
	// the main thread clears it (and waits until the audio thread is not
	// inside) before it changes the processor's activation.
	std::atomic<bool> audioSetup_ {false};
	std::atomic<bool> audioInside_ {false};
	// Main thread, or the audio thread inside its turn.
	bool active_ = false;
	bool processing_ = false;
	double sampleRate_ = 48000.0;
	std::int32_t maxBlockSize_ = 512;
	Steinberg::int32 processMode_ = Steinberg::Vst::kRealtime;

	bool singleObject_ = false; // controller_ is the component's own interface
	ComponentHandler* componentHandler_ = nullptr;
	ParameterQueue toProcessor_;         // main thread -> audio thread
	ParameterRing fromProcessor_ {1024}; // audio thread -> main thread
	ParameterChanges inputChanges_;      // audio thread only, once audio runs
	ParameterChanges outputChanges_;
	HeldEdits heldEdits_; // audio thread
	// Written on the main thread while the audio thread leaves the
	// processor alone (see publishBuses).
	ServedLayout layout_;
	bool busesActivated_ = false;
	bool activeBuses_[kBusKinds][kMaxAudioBuses] = {};
	Steinberg::int32 sampleSize_ = Steinberg::Vst::kSample32;
	// Audio thread only.
	InputEventList inputEvents_;
	OutputEventList outputEvents_;
	static constexpr std::int32_t kMaxServedChannels = 256;
	void* channelPointers_[2][kMaxServedChannels] = {};
	Steinberg::Vst::AudioBusBuffers busBuffers_[2][kMaxAudioBuses] = {};
	// What served channels read where the host gave none (cleared for each
	// block that reads it), and write where the host takes none; left as
	// the allocation gives them, as the event lists are.
	alignas (64) double silence_[kMaxBlockSize];
	alignas (64) double sink_[kMaxBlockSize];
	std::atomic<std::uint32_t> droppedOutputs_ {0};
};

} // namespace Tandem
