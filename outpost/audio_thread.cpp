#include "audio_thread.h"

#include "crash_report.h"
#include "linux_calls.h"
#include "log/log.h"
#include "next_to_host.h"
#include "protocol/handshake.h"
#include "protocol/host_context.h"

#include <chrono>
#include <thread>

namespace Tandem {

// One core is always left to the threads that post blocks.
SpinSeats& spinSeats ()
{
	static SpinSeats seats (static_cast<int> (std::thread::hardware_concurrency ()) - 1);
	return seats;
}

void AudioThread::start (bool linuxCalls, const ChainPlace& chain, const char* name, ChainRelay* relay,
                         SpareThreads* spares)
{
	if (running_)
		return;
	name_ = name;
	linuxCalls_ = linuxCalls;
	chain_ = chain;
	relay_ = linuxCalls && chain.linked () ? relay : nullptr;
	chain_.handsOn = relay_ != nullptr;
	if (relay_)
		relay_->enter (*this, chain_);
	running_ = true;
	thread_ = spares ? spares->launch ([this] { run (); }) : std::thread (&AudioThread::run, this);
	logInfo () << "[Outpost] Audio thread launched";
}

void AudioThread::followProcessing ()
{
	PluginInstance* plugin = instance_.plugin.get ();
	SessionData* session = instance_.regions.session;
	if (plugin && session)
		plugin->followProcessing (session->processing.load (std::memory_order_acquire) != 0);
}

void AudioThread::stop ()
{
	if (!running_)
		return;
	running_ = false;
	if (relay_)
		relay_->leave (*this);
	wake ();
	if (thread_.joinable ())
		thread_.join ();
	logInfo () << "[Outpost] Audio thread joined";
}

bool AudioThread::flushEdits ()
{
	if (!instance_.plugin || !instance_.plugin->hasPendingEdits ())
		return true;
	if (!running_.load (std::memory_order_relaxed))
	{
		logError () << "[Outpost] Edits pending but no audio thread to deliver them";
		return false;
	}
	// Edits kept aside while the queue was full go in over several rounds,
	// all within a time well inside the Linux side's wait for the state.
	const auto deadline = std::chrono::steady_clock::now () + std::chrono::seconds (2);
	for (int round = 0; round < 16 && instance_.plugin->hasPendingEdits (); ++round)
	{
		instance_.plugin->serviceParameters ();
		flushRequested_.store (true, std::memory_order_release);
		wake ();
		while (flushRequested_.load (std::memory_order_acquire))
		{
			if (std::chrono::steady_clock::now () > deadline)
			{
				logError () << "[Outpost] Audio thread did not deliver pending edits in time";
				return false;
			}
			std::this_thread::sleep_for (std::chrono::milliseconds (1));
		}
	}
	if (instance_.plugin->hasPendingEdits ())
	{
		logError () << "[Outpost] Edits still pending: the processor is not processing";
		return false;
	}
	logInfo () << "[Outpost] Pending edits delivered to the processor";
	return true;
}

// The audio thread may sleep on inputReady while no blocks come, or on its
// chain slot.
void AudioThread::wake ()
{
	if (linuxCalls_ && instance_.regions.audioData)
		futexWake (&instance_.regions.audioData->inputReady);
	if (chain_.linked ())
		nudge (chain_.own ());
	// The thread ahead may have taken its `asleep` flag while it naps.
	if (relay_)
		wakeFromNap ();
}

void AudioThread::wakeFromNap ()
{
	ChainSlot& own = chain_.own ();
	own.nudge.fetch_add (1);
	futexWake (&own.nudge);
}

bool AudioThread::blockPosted () const
{
	return instance_.regions.audioData && instance_.regions.audioData->inputReady.load (std::memory_order_relaxed) == 1;
}

bool AudioThread::takeBlockHandedOn ()
{
	// Its own thread may be following the processing state: a moment.
	const auto now = HandshakeClock::now ();
	if (!running_.load (std::memory_order_relaxed) ||
	    !spinUntil ([this] { return claim (); }, now + std::chrono::microseconds (50)))
		return false;
	const bool posted = blockPosted ();
	if (posted)
	{
		handedOn_.store (true, std::memory_order_relaxed);
		// A crash now is this instance's plug-in's.
		nameCrashInstance (name_);
		serveBlock ();
	}
	release ();
	return posted;
}

void AudioThread::stopTakingHandedOn ()
{
	handedOn_.store (false, std::memory_order_relaxed);
	wakeFromNap ();
}

void AudioThread::serviceFlush ()
{
	if (!flushRequested_.load (std::memory_order_acquire))
		return;
	if (instance_.plugin)
		instance_.plugin->flushParameterChanges ();
	flushRequested_.store (false, std::memory_order_release);
}

void AudioThread::serveBlock ()
{
	serviceFlush ();
	processBlock ();
}

void AudioThread::idleWork ()
{
	if (!claim ())
		return;
	followProcessing ();
	serviceFlush ();
	release ();
}

void AudioThread::napWhileHandedOn ()
{
	// On its chain slot, as a follower sleeps: the host wakes it for a block
	// that the thread ahead will not hand on (it holds the slot when it
	// will), and so does the thread ahead when it gives up.
	ChainSlot& own = chain_.own ();
	const std::int32_t before = own.nudge.load (std::memory_order_relaxed);
	own.asleep.store (1, std::memory_order_relaxed);
	fullFence ();
	if (handedOn_.load (std::memory_order_acquire) && running_.load (std::memory_order_relaxed) && !blockPosted ())
		futexWait (&own.nudge, before, std::chrono::nanoseconds (std::chrono::milliseconds (20)).count ());
	own.asleep.store (0, std::memory_order_relaxed);
	fullFence ();
	// A block that nobody handed on is taken as any other.
	if (blockPosted () && claim ())
	{
		const bool stillPosted = blockPosted ();
		release ();
		if (stillPosted)
		{
			handedOn_.store (false, std::memory_order_relaxed);
			return;
		}
	}
	idleWork ();
}

void AudioThread::run ()
{
	logFromAudio ("[Outpost] Audio thread started");
	nameCrashInstance (name_);
	releaseUnusedStack ();
	if (!instance_.regions.audioData)
		return;
	AudioData& audio = *instance_.regions.audioData;
	audio.outpostCanWake.store (linuxCalls_ ? 1 : 0, std::memory_order_relaxed);
	audio.audioReady.store (1, std::memory_order_relaxed);
	fullFence ();
	logFromAudio ("[Outpost] Audio ready signaled to Linux plugin");

	bool realTime = false;
	if (linuxCalls_)
	{
		const std::int64_t priority = preferPromptWakeUps ();
		realTime = priority == 0;
		if (priority == 0)
			logFromAudio ("[Outpost] Audio thread at real-time priority");
		else
			logFromAudio ("[Outpost] Audio thread at normal priority (real-time refused: %lld)",
			              static_cast<long long> (priority));
	}
	std::int32_t blocks = 0;
	bool warned = false;
	BlockRhythm rhythm;
	// Asked each time a spin window passes without a block. The main thread
	// asks for a 0-sample process() to deliver edits while no blocks come.
	auto idle = [&] {
		if (!running_.load (std::memory_order_relaxed))
			return false;
		idleWork ();
		// Blocks handed on to it: the thread naps instead.
		if (handedOn_.load (std::memory_order_relaxed))
			return false;
		if (blocks == 0 && !warned)
		{
			logFromAudio ("[Outpost-Audio] Still waiting for first audio block...");
			warned = true;
		}
		return true;
	};
	// Set by the Linux side when its instance runs right behind another.
	const std::atomic<std::uint8_t>* follows =
	    instance_.regions.uiCommand ? &instance_.regions.uiCommand->followsAnother : nullptr;
	// Looked up once, not per block.
	SpinSeats* seats = &spinSeats ();
	ChainPlace place = chain_;
	place.follows = follows;
	NextToHost nextToHost;
	// The outposts of a chain take turns on the CPUs their host thread does
	// not post from (each block names it): a woken follower spins there at
	// real-time priority without keeping a host thread at normal priority
	// from posting, and finds the CPU already awake, the outpost ahead of it
	// working there or just done. An instance alone stays where the kernel
	// puts it. Changed only when that CPU changes.
	int keptOff = -1;
	// In spin-only mode the thread never sleeps between blocks; at a
	// real-time priority it would keep every normal process (the host among
	// them) off its core until the kernel throttles it. It runs at the
	// normal priority for as long as that mode lasts (and never moves). A
	// switch the kernel refuses is not tried again: no system call per block.
	bool atRealTime = realTime;
	auto fitPriority = [&] {
		const bool spinOnly = audio.spinOnly.load (std::memory_order_relaxed) != 0;
		if (!realTime || spinOnly != atRealTime)
			return;
		if ((spinOnly ? leaveRealTime () : preferPromptWakeUps ()) == 0)
			atRealTime = !spinOnly;
		else
			realTime = false;
	};
	fitPriority ();
	while (running_.load (std::memory_order_relaxed))
	{
		if (handedOn_.load (std::memory_order_acquire))
		{
			napWhileHandedOn ();
			continue;
		}
		// False when stopped, or when blocks came to be handed on to it.
		if (!waitForBlock (audio, linuxCalls_, idle, kIdleSlice, &rhythm, &place, seats))
			continue;
		if (relay_)
			relay_->holdFollower (place);
		// The thread ahead may be processing this block: it is done soon.
		if (!claim ())
		{
			const auto now = HandshakeClock::now ();
			spinUntil ([this] { return !blockPosted (); }, now + std::chrono::milliseconds (2));
			continue;
		}
		if (!blockPosted ())
		{
			release ();
			continue;
		}
		++blocks;
		if (blocks <= 10 || blocks % 10000 == 0)
			logFromAudio ("[Outpost-Audio] Processing block %d (samples=%d)", blocks, audio.numSamples);
		nameCrashInstance (name_);
		serveBlock ();
		release ();
		const int hostCpu = instance_.regions.uiCommand
		                        ? instance_.regions.uiCommand->hostCpu.load (std::memory_order_relaxed) - 1
		                        : -1;
		if (place.linked ())
		{
			const int off = atRealTime && place.inChain () ? hostCpu : -1;
			if (off != keptOff)
			{
				keepOffCpu (off);
				keptOff = off;
			}
		}
		else if (atRealTime && place.following ())
		{
			if (nextToHost.shouldMove (hostCpu, currentCpu ()))
				moveOntoCpu (hostCpu);
		}
		if (relay_)
			relay_->passOn (place);
		fitPriority ();
	}
	logFromAudio ("[Outpost] Audio thread stopped (processed %d blocks)", blocks);
}

void AudioThread::processBlock ()
{
	if (!instance_.plugin || !instance_.regions.audioData)
		return;
	if (++blockCount_ % 50000 == 0)
		logFromAudio ("[Outpost] Audio block %d", blockCount_);

	// The counts come from the other process: never trust them as bounds.
	const std::int32_t samples = clampCount (instance_.regions.audioData->numSamples, kMaxBlockSize);
	const std::int32_t channels = clampCount (instance_.regions.audioData->numChannels, kMaxChannels);

	// What the host gave with this block; a served processor that is not
	// active (the host has not activated it yet) leaves the block as it came.
	HostBlock host;
	host.processing = instance_.regions.session->processing.load (std::memory_order_acquire) != 0;
	host.processMode = instance_.regions.session->blockMode;
	host.context = loadHostContext (*instance_.regions.session, hostContext_);
	host.inputSilenceFlags = instance_.regions.session->inputSilenceFlags;
	BlockParameters& points = instance_.regions.parameters->block;
	host.inputPoints = points.input;
	host.inputPointCount = points.inputCount;
	host.holdEdits = instance_.regions.parameters->request.hostListens.load (std::memory_order_relaxed) == 1;
	host.outputPoints = points.output;
	host.inputEvents = &instance_.regions.events->input;
	host.outputEvents = &instance_.regions.events->output;
	if (instance_.regions.buses->block.pools == 1)
		buses_.processBlock (samples, host);
	else
		instance_.plugin->processAudio (&instance_.regions.audioData->inputBuffers[0][0],
		                                &instance_.regions.audioData->outputBuffers[0][0], samples, channels, &host);
	// Written only when they change: the lines are the Linux side's too.
	writeIfChanged (instance_.regions.session->outputSilenceFlags, host.outputSilenceFlags);
	writeIfChanged (points.outputCount, host.outputPointCount);

	finishBlock (*instance_.regions.audioData);
}

} // namespace Tandem
