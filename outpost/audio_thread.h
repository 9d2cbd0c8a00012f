// outpost's audio thread: it spins while blocks flow and sleeps when none
// come, processes each block of the served instance, follows the host's
// processing state, and delivers edits to the processor when the main
// thread asks (also while no blocks come).
#pragma once

#include <atomic>
#include <thread>

#include "bus_service.h"
#include "chain_relay.h"
#include "spare_threads.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "protocol/chain_wake.h"
#include "protocol/handshake.h"
#include "served_instance.h"

namespace Tandem {

// The seats of the spins of every audio thread of the process (a group's
// outpost runs one per instance).
SpinSeats& spinSeats ();

class AudioThread
{
public:
	AudioThread (ServedInstance& instance, BusService& buses) : instance_ (instance), buses_ (buses) {}
	~AudioThread () { stop (); }
	AudioThread (const AudioThread&) = delete;
	AudioThread& operator= (const AudioThread&) = delete;

	// `linuxCalls`: it may sleep between blocks on a futex. `chain`: its
	// slot among the outposts of the host's chains. `name`: the instance's,
	// for the line of a crash on the thread (it outlives the thread).
	// `relay`: the outpost's other instances of the chain hand blocks on to
	// this one, and it to them (a group's outpost, with `linuxCalls`).
	// `spares`: the thread is taken from there.
	void start (bool linuxCalls, const ChainPlace& chain, const char* name = "", ChainRelay* relay = nullptr,
	            SpareThreads* spares = nullptr);
	void stop ();
	bool running () const { return running_.load (std::memory_order_relaxed); }
	// Wakes it to look at its flags (it may sleep on inputReady or on its
	// chain slot).
	void wake ();
	// Main thread: makes sure every edit the served controller made so far
	// has reached its processor, by asking for a process() call of 0
	// samples. False when that did not happen in time.
	bool flushEdits ();
	// One block of the file (the fuzz target calls it too).
	void processBlock ();

	// The audio thread of the instance ahead in a chain (chain_relay.h):
	// whether a block is posted; the posted block processed on the calling
	// thread (false when there was none to take); and, when it did not
	// come in time, this thread woken to take its blocks itself again.
	bool blockPosted () const;
	bool takeBlockHandedOn ();
	void stopTakingHandedOn ();

private:
	void run ();
	// The served processor follows the host's setProcessing.
	void followProcessing ();
	// The 0-sample process() the main thread asked for, if it did.
	void serviceFlush ();
	// A flush asked for by the main thread, then the block.
	void serveBlock ();
	// Between blocks, unless another thread works on the instance: the
	// processing state and a flush.
	void idleWork ();
	// Only one thread at a time works on the instance: its own, or the one
	// that hands a block on to it.
	bool claim () { return !claimed_.exchange (true, std::memory_order_acquire); }
	void release () { claimed_.store (false, std::memory_order_release); }
	// While blocks are handed on to it: sleeps, waking now and then to
	// follow the processing state and flushes.
	void napWhileHandedOn ();
	// Ends its nap, whoever holds its `asleep` flag.
	void wakeFromNap ();

	ServedInstance& instance_;
	BusService& buses_;
	bool linuxCalls_ = false;
	ChainPlace chain_;
	const char* name_ = "";
	ChainRelay* relay_ = nullptr;
	std::atomic<bool> claimed_ {false};
	// Set while the thread ahead processes this instance's blocks.
	std::atomic<bool> handedOn_ {false};
	std::int32_t blockCount_ = 0;
	std::atomic<bool> running_ {false};
	// Set by the main thread to ask for flushEdits' 0-sample process()
	// call; the audio thread clears it when the call is done.
	std::atomic<bool> flushRequested_ {false};
	std::thread thread_;
	// The host's context of the block in hand.
	Steinberg::Vst::ProcessContext hostContext_ {};
};

} // namespace Tandem
