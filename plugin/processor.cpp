#include "plugin/processor.h"

#include "plugin/connection_messages.h"
#include "plugin/plugids.h"

#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <filesystem>
#include <sys/wait.h>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {

using Tandem::fullFence;

namespace {

constexpr int32 kSpinBound = 500001;
constexpr auto kReadyTimeout = std::chrono::seconds (10);
constexpr auto kStateTimeout = std::chrono::seconds (5);
constexpr const char* kServedPluginPath = "C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3";

// Ids start at pid * 1000, computed in 32-bit arithmetic (it may wrap).
int32 firstInstanceId ()
{
	return static_cast<int32> (static_cast<uint32> (::getpid ()) * 1000u);
}

// Liveness probe, one system call in the usual case. A child that has
// exited but is not reaped yet still answers signal 0, so it is asked
// whether it has exited (without reaping it) first; signal 0 decides only
// when it is not our child to wait for (the host reaps or ignores SIGCHLD).
bool processGone (pid_t pid)
{
	siginfo_t info {};
	if (::waitid (P_PID, static_cast<id_t> (pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0)
		return info.si_pid == pid;
	return errno == ECHILD && ::kill (pid, 0) != 0 && errno == ESRCH;
}

// Sleeps for the whole duration even when signals interrupt it.
void sleepFully (long milliseconds)
{
	timespec remaining {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
	while (::nanosleep (&remaining, &remaining) != 0 && errno == EINTR)
	{
	}
}

using Deadline = std::chrono::steady_clock::time_point;

// Polls `ready` every 10 ms until it returns true or `deadline` passes.
template <typename Ready>
bool pollUntil (Ready ready, Deadline deadline)
{
	while (std::chrono::steady_clock::now () < deadline)
	{
		if (ready ())
			return true;
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	}
	return false;
}

void postCommand (Tandem::UICommand* ui, Tandem::CommandCode code)
{
	ui->command = static_cast<int32> (code);
	ui->processed.store (false, std::memory_order_release);
}

// The slot holds one command, and the editor does not wait for its
// HideEditor to be taken: a state command written over it would lose it.
// So the slot must be free first; the wait counts against the answer's 5 s,
// and a slot that never frees is taken all the same.
Deadline postStateCommand (Tandem::UICommand* ui, Tandem::CommandCode code)
{
	const Deadline deadline = std::chrono::steady_clock::now () + kStateTimeout;
	pollUntil ([ui] { return ui->processed.load (std::memory_order_acquire); }, deadline);
	postCommand (ui, code);
	return deadline;
}

} // namespace

std::vector<QuillMarlowProcessor*> QuillMarlowProcessor::s_activeInstances_;
std::mutex QuillMarlowProcessor::s_instancesMutex_;
std::atomic<int32> QuillMarlowProcessor::s_instanceCounter_ {firstInstanceId ()};

std::string getBundlePath ()
{
	Dl_info info {};
	if (::dladdr (reinterpret_cast<void*> (&getBundlePath), &info) == 0 || !info.dli_fname)
		return {};
	// Absolute, so that outpost is found whatever the host's current directory.
	std::error_code error;
	const auto library = std::filesystem::absolute (info.dli_fname, error);
	return library.parent_path ().parent_path ().parent_path ().string ();
}

QuillMarlowProcessor::QuillMarlowProcessor () : instanceId_ (s_instanceCounter_.fetch_add (1))
{
	std::cout << "[QuillMarlow] New instance created with ID: " << instanceId_ << std::endl;
	registerInstance ();
	setControllerClass (kControllerUID);
}

QuillMarlowProcessor::~QuillMarlowProcessor ()
{
	unregisterInstance ();
	cleanupSharedMemory ();
	terminateOutpost ();
}

FUnknown* QuillMarlowProcessor::createInstance (void*)
{
	return static_cast<Vst::IAudioProcessor*> (new QuillMarlowProcessor ());
}

void QuillMarlowProcessor::registerInstance ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	s_activeInstances_.push_back (this);
	std::cout << "[QuillMarlow #" << instanceId_ << "] Registered (total: " << s_activeInstances_.size ()
	          << ")" << std::endl;
}

void QuillMarlowProcessor::unregisterInstance ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	auto it = std::find (s_activeInstances_.begin (), s_activeInstances_.end (), this);
	if (it != s_activeInstances_.end ())
		s_activeInstances_.erase (it);
	std::cout << "[QuillMarlow #" << instanceId_ << "] Unregistered (remaining: "
	          << s_activeInstances_.size () << ")" << std::endl;
}

Tandem::UICommand* QuillMarlowProcessor::findActiveUICommand ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	for (auto* processor : s_activeInstances_)
		if (auto* ui = processor->sharedMemory_.uiCommand ())
			return ui;
	return nullptr;
}

bool QuillMarlowProcessor::isUICommandMapped (const Tandem::UICommand* ui)
{
	if (!ui)
		return false;
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	for (auto* processor : s_activeInstances_)
		if (processor->sharedMemory_.uiCommand () == ui)
			return true;
	return false;
}

bool QuillMarlowProcessor::findActiveInstanceId (int32& instanceId)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	for (auto* processor : s_activeInstances_)
		if (processor->sharedMemory_.uiCommand ())
		{
			instanceId = processor->instanceId_;
			return true;
		}
	return false;
}

bool QuillMarlowProcessor::instanceIdOfUICommand (const Tandem::UICommand* ui, int32& instanceId)
{
	if (!ui)
		return false;
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	for (auto* processor : s_activeInstances_)
		if (processor->sharedMemory_.uiCommand () == ui)
		{
			instanceId = processor->instanceId_;
			return true;
		}
	return false;
}

bool QuillMarlowProcessor::withUICommand (int32 instanceId, const std::function<void (Tandem::UICommand&)>& use)
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	for (auto* processor : s_activeInstances_)
		if (processor->instanceId_ == instanceId)
		{
			Tandem::UICommand* ui = processor->sharedMemory_.uiCommand ();
			if (!ui)
				return false;
			use (*ui);
			return true;
		}
	return false;
}

tresult PLUGIN_API QuillMarlowProcessor::connect (IConnectionPoint* other)
{
	const tresult result = AudioEffect::connect (other);
	if (result != kResultOk)
		return result;
	// Hosts may put proxies between the two objects, so the peer is told
	// through a message rather than found by casting it.
	IPtr<Vst::IMessage> message = owned (allocateMessage ());
	Vst::IAttributeList* attributes = message ? message->getAttributes () : nullptr;
	if (!attributes)
	{
		std::cerr << "[QuillMarlow #" << instanceId_
		          << "] Cannot tell the controller our instance id (the host makes no messages)" << std::endl;
		return result;
	}
	message->setMessageID (kProcessorIdMessage);
	attributes->setInt (kProcessorIdAttribute, instanceId_);
	if (other->notify (message) == kResultOk)
		std::cout << "[QuillMarlow #" << instanceId_ << "] Instance id sent to the controller" << std::endl;
	else
		std::cerr << "[QuillMarlow #" << instanceId_ << "] The controller did not take our instance id" << std::endl;
	return result;
}

tresult PLUGIN_API QuillMarlowProcessor::initialize (FUnknown* context)
{
	tresult result = AudioEffect::initialize (context);
	if (result != kResultOk)
		return result;
	addAudioInput (STR16 ("Stereo In"), Vst::SpeakerArr::kStereo);
	addAudioOutput (STR16 ("Stereo Out"), Vst::SpeakerArr::kStereo);
	return result;
}

tresult PLUGIN_API QuillMarlowProcessor::setupProcessing (Vst::ProcessSetup& setup)
{
	sampleRate_ = setup.sampleRate;
	maxSamplesPerBlock_ = setup.maxSamplesPerBlock;
	std::cout << "[QuillMarlow] Setup: " << sampleRate_ << " Hz, " << maxSamplesPerBlock_ << " samples"
	          << std::endl;
	return AudioEffect::setupProcessing (setup);
}

tresult PLUGIN_API QuillMarlowProcessor::canProcessSampleSize (int32 symbolicSampleSize)
{
	return symbolicSampleSize == Vst::kSample32 ? kResultTrue : kResultFalse;
}

bool QuillMarlowProcessor::outpostAlive () const
{
	return hostProcess_.pid () > 0 && !processGone (hostProcess_.pid ());
}

bool QuillMarlowProcessor::outpostRunning () const
{
	return outpostAlive () && sharedMemory_.isMapped ();
}

tresult PLUGIN_API QuillMarlowProcessor::setActive (TBool state)
{
	if (!state)
	{
		std::cout << "[QuillMarlow] Désactivation du plugin (outpost maintenu en vie)" << std::endl;
		return AudioEffect::setActive (false);
	}

	std::cout << "[QuillMarlow] Activation du plugin..." << std::endl;
	if (outpostRunning ())
	{
		std::cout << "[QuillMarlow] outpost déjà actif (PID: " << hostProcess_.pid () << "), réutilisation"
		          << std::endl;
	}
	else
	{
		if (!initSharedMemory ())
		{
			std::cerr << "[QuillMarlow] Erreur: Impossible d'initialiser la mémoire partagée" << std::endl;
			return kResultFalse;
		}
		// The new file starts with both audio flags clear: nothing is in flight.
		awaitingLateBlock_ = false;
		if (!launchOutpost ())
		{
			std::cerr << "[QuillMarlow] Erreur: Impossible de lancer le outpost" << std::endl;
			return kResultFalse;
		}
		fullFence ();
		if (!lastState_.empty () && sharedMemory_.audioData ()->audioReady.load (std::memory_order_relaxed) == 1)
			sendStateToOutpost ();
	}
	std::cout << "[QuillMarlow] Plugin activé avec succès" << std::endl;
	return AudioEffect::setActive (true);
}

tresult PLUGIN_API QuillMarlowProcessor::terminate ()
{
	cleanupSharedMemory ();
	terminateOutpost ();
	return AudioEffect::terminate ();
}

bool QuillMarlowProcessor::initSharedMemory ()
{
	const std::string path = "/tmp/tandem_" + std::to_string (instanceId_) + ".shm";
	Tandem::CreateResult result {false, {}};
	{
		// Under the registry lock: views look the mapping up through it.
		std::lock_guard<std::mutex> lock (s_instancesMutex_);
		result = sharedMemory_.create (path);
	}
	if (!result.success)
	{
		std::cerr << "[QuillMarlow #" << instanceId_ << "] Erreur shared memory: " << result.error << std::endl;
		return false;
	}
	std::cout << "[QuillMarlow #" << instanceId_ << "] Fichier mappé créé: " << path << std::endl;
	std::cout << "[QuillMarlow #" << instanceId_ << "] UICommand at offset 0, AudioData at offset "
	          << Tandem::kAudioDataOffset << std::endl;
	return true;
}

void QuillMarlowProcessor::cleanupSharedMemory ()
{
	std::lock_guard<std::mutex> lock (s_instancesMutex_);
	sharedMemory_.release ();
}

bool QuillMarlowProcessor::launchOutpost ()
{
	std::cout << "[QuillMarlow] Lancement du outpost..." << std::endl;
	const std::string dir = getBundlePath ();
	std::cout << "[QuillMarlow] Plugin directory: " << dir << std::endl;

	Tandem::OutpostConfig config;
	config.winePath = "/usr/bin/wine";
	config.hostPath = dir + "/Contents/Resources/outpost.exe";
	config.vst3Path = kServedPluginPath;
	config.sharedMemoryName = sharedMemory_.path ();
	adjustOutpostConfig (config);

	std::cout << "[QuillMarlow] Outpost: " << config.hostPath << std::endl;
	std::cout << "[QuillMarlow] VST3 path: " << config.vst3Path << std::endl;
	std::cout << "[QuillMarlow] Shared file: " << config.sharedMemoryName << std::endl;

	Tandem::AudioData* audio = sharedMemory_.audioData ();
	if (audio)
	{
		audio->numChannels = 2;
		audio->audioReady.store (0, std::memory_order_relaxed);
		audio->numSamples = maxSamplesPerBlock_;
		audio->sampleRate = sampleRate_;
		fullFence ();
		std::cout << "[QuillMarlow] Audio params: " << sampleRate_ << " Hz, " << maxSamplesPerBlock_
		          << " samples" << std::endl;
	}

	const Tandem::ProcessResult result = hostProcess_.launchOutpost (config);
	if (!result.success)
	{
		std::cerr << "[QuillMarlow] Erreur launch: " << result.error << std::endl;
		return false;
	}

	std::cout << "[QuillMarlow] Waiting for outpost to initialize audio..." << std::endl;
	const auto deadline = std::chrono::steady_clock::now () + kReadyTimeout;
	bool ready = false;
	while (std::chrono::steady_clock::now () < deadline)
	{
		if (audio)
		{
			fullFence ();
			if (audio->audioReady.load (std::memory_order_relaxed) == 1)
			{
				ready = true;
				break;
			}
		}
		std::this_thread::sleep_for (std::chrono::milliseconds (50));
	}
	if (ready)
		std::cout << "[QuillMarlow] Outpost audio ready!" << std::endl;
	else
		std::cerr << "[QuillMarlow] Timeout waiting for outpost audio init!" << std::endl;
	std::cout << "[QuillMarlow] Outpost lancé (PID: " << hostProcess_.pid () << ")" << std::endl;
	return true;
}

void QuillMarlowProcessor::terminateOutpost ()
{
	const pid_t pid = hostProcess_.pid ();
	if (pid <= 0)
		return;
	if (processGone (pid))
	{
		hostProcess_.terminate (500);  // only reaps what is left of it
		return;
	}
	std::cout << "[QuillMarlow] Terminaison du outpost..." << std::endl;
	if (Tandem::UICommand* ui = sharedMemory_.uiCommand ())
	{
		postCommand (ui, Tandem::CommandCode::Shutdown);
		sleepFully (500);
	}
	hostProcess_.terminate (500);
}

void QuillMarlowProcessor::passthrough (const Vst::AudioBusBuffers& in, Vst::AudioBusBuffers& out,
                                        int32 channels, int32 samples) const
{
	for (int32 i = 0; i < channels; ++i)
		if (in.channelBuffers32[i] != out.channelBuffers32[i])
			std::memcpy (out.channelBuffers32[i], in.channelBuffers32[i], sizeof (float) * samples);
}

tresult PLUGIN_API QuillMarlowProcessor::process (Vst::ProcessData& data)
{
	++processCallCount_;
	if (processCallCount_ % 10000 == 0)
		std::cout << "[QuillMarlow #" << instanceId_ << "] process() #" << processCallCount_
		          << " - shm=" << sharedMemory_.isMapped () << " wine_pid=" << hostProcess_.pid () << std::endl;

	if (data.numInputs == 0 || data.numOutputs == 0 || !data.inputs || !data.outputs)
		return kResultOk;

	const Vst::AudioBusBuffers& in = data.inputs[0];
	Vst::AudioBusBuffers& out = data.outputs[0];
	// Never write past the output bus, never read past the input bus.
	int32 channels = std::min ({in.numChannels, out.numChannels, Tandem::kMaxChannels});
	if (channels < 0 || !in.channelBuffers32 || !out.channelBuffers32)
		channels = 0;
	const int32 samples = Tandem::clampCount (data.numSamples, Tandem::kMaxBlockSize);
	const size_t bytes = sizeof (float) * samples;

	Tandem::AudioData* audio = sharedMemory_.audioData ();
	const pid_t pid = hostProcess_.pid ();
	if (!audio || pid <= 0 || processGone (pid))
	{
		if (processCallCount_ % 10000 == 1)
			std::cout << "[QuillMarlow #" << instanceId_ << "] Passthrough mode (no outpost)" << std::endl;
		passthrough (in, out, channels, samples);
		return kResultOk;
	}

	if (awaitingLateBlock_)
	{
		// The slots stay outpost's until it has finished the block that timed out.
		fullFence ();
		if (audio->inputReady.load (std::memory_order_relaxed) != 0 ||
		    audio->outputReady.load (std::memory_order_relaxed) == 0)
		{
			passthrough (in, out, channels, samples);
			return kResultOk;
		}
		awaitingLateBlock_ = false;
	}

	audio->numChannels = channels;
	audio->numSamples = samples;
	audio->sampleRate = sampleRate_;
	for (int32 i = 0; i < channels; ++i)
		std::memcpy (audio->inputBuffers[i], in.channelBuffers32[i], bytes);

	audio->outputReady.store (0, std::memory_order_relaxed);
	fullFence ();
	audio->inputReady.store (1, std::memory_order_relaxed);
	fullFence ();

	if (processCallCount_ <= 10)
	{
		fullFence ();
		std::cout << "[QuillMarlow #" << instanceId_ << "] Sending block " << processCallCount_
		          << " (samples=" << samples << ", inputReady=" << audio->inputReady.load (std::memory_order_relaxed)
		          << ")" << std::endl;
	}

	int32 waited = 0;
	for (;;)
	{
		fullFence ();
		if (audio->outputReady.load (std::memory_order_relaxed) != 0)
			break;
		if (++waited == kSpinBound)
			break;
		if (waited % 256 == 0)
			Tandem::cpuPause ();
	}

	if (waited == kSpinBound)
	{
		++timeoutCount_;
		awaitingLateBlock_ = true;
		if (timeoutCount_ <= 10 || timeoutCount_ % 100 == 0)
			std::cout << "[QuillMarlow #" << instanceId_ << "] TIMEOUT #" << timeoutCount_ << " (block "
			          << processCallCount_ << ", waited " << kSpinBound << " iterations)" << std::endl;
		passthrough (in, out, channels, samples);
		return kResultOk;
	}

	++audioOkCount_;
	if (audioOkCount_ <= 10 || audioOkCount_ % 10000 == 0)
		std::cout << "[QuillMarlow #" << instanceId_ << "] Audio OK #" << audioOkCount_ << " (block "
		          << processCallCount_ << ", waited " << waited << " iterations)" << std::endl;
	for (int32 i = 0; i < channels; ++i)
		std::memcpy (out.channelBuffers32[i], audio->outputBuffers[i], bytes);
	return kResultOk;
}

bool QuillMarlowProcessor::writeState (IBStream* stream, const uint8* bytes, int32 size) const
{
	// Stream format: 4-byte little-endian size, then the bytes. A host stream
	// that refuses or shortens a write (a full disk) must not pass for a save.
	const uint8 header[4] = {static_cast<uint8> (size), static_cast<uint8> (size >> 8),
	                         static_cast<uint8> (size >> 16), static_cast<uint8> (size >> 24)};
	auto writeAll = [stream] (const uint8* data, int32 count) {
		int32 written = 0;
		return stream->write (const_cast<uint8*> (data), count, &written) == kResultOk && written == count;
	};
	if (writeAll (header, 4) && writeAll (bytes, size))
		return true;
	std::cerr << "[QuillMarlow] Failed to write state to the host's stream" << std::endl;
	return false;
}

tresult PLUGIN_API QuillMarlowProcessor::getState (IBStream* stream)
{
	std::cout << "[QuillMarlow] getState() called - requesting state from outpost" << std::endl;
	Tandem::UICommand* ui = sharedMemory_.uiCommand ();
	Tandem::StateData* state = sharedMemory_.stateData ();

	// Saving a project while outpost is gone keeps the last state we knew.
	auto saveLastKnown = [&] () -> tresult {
		if (lastState_.empty () || !stream)
			return kResultFalse;
		if (!writeState (stream, lastState_.data (), static_cast<int32> (lastState_.size ())))
			return kResultFalse;
		std::cout << "[QuillMarlow] Last known state saved: " << lastState_.size () << " bytes" << std::endl;
		return kResultOk;
	};

	if (!ui || !state || !outpostAlive ())
	{
		std::cerr << "[QuillMarlow] Cannot get state - no connection to outpost" << std::endl;
		return saveLastKnown ();
	}

	state->stateReady.store (false, std::memory_order_relaxed);
	const Deadline deadline = postStateCommand (ui, Tandem::CommandCode::GetState);
	if (!pollUntil ([&] { return state->stateReady.load (std::memory_order_acquire); }, deadline))
	{
		std::cerr << "[QuillMarlow] Timeout waiting for state from outpost" << std::endl;
		return saveLastKnown ();
	}

	const int32 size = state->stateSize;
	if (size < 1 || size > Tandem::kMaxStateSize)
	{
		std::cout << "[QuillMarlow] No state data available" << std::endl;
		return kResultOk;
	}
	lastState_.assign (state->stateBuffer, state->stateBuffer + size);
	if (stream && !writeState (stream, lastState_.data (), size))
		return kResultFalse;
	std::cout << "[QuillMarlow] State saved: " << size << " bytes" << std::endl;
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowProcessor::setState (IBStream* stream)
{
	std::cout << "[QuillMarlow] setState() called - restoring state to outpost" << std::endl;
	if (!stream)
		return kResultFalse;

	uint8 header[4] = {};
	int32 numRead = 0;
	if (stream->read (header, 4, &numRead) != kResultOk || numRead != 4)
	{
		std::cerr << "[QuillMarlow] Failed to read state size" << std::endl;
		return kResultFalse;
	}
	const int32 size = static_cast<int32> (static_cast<uint32> (header[0]) | static_cast<uint32> (header[1]) << 8 |
	                                       static_cast<uint32> (header[2]) << 16 |
	                                       static_cast<uint32> (header[3]) << 24);
	if (size < 1 || size > Tandem::kMaxStateSize)
	{
		std::cerr << "[QuillMarlow] Invalid state size: " << size << std::endl;
		return kResultFalse;
	}

	// Read into memory first so that a short stream leaves the shared file as it was.
	std::vector<uint8> bytes (static_cast<size_t> (size));
	if (stream->read (bytes.data (), size, &numRead) != kResultOk || numRead != size)
	{
		std::cerr << "[QuillMarlow] Failed to read state data" << std::endl;
		return kResultFalse;
	}
	lastState_ = std::move (bytes);

	Tandem::StateData* state = sharedMemory_.stateData ();
	if (state)
	{
		std::memcpy (state->stateBuffer, lastState_.data (), lastState_.size ());
		state->stateSize = size;
		std::cout << "[QuillMarlow] State loaded: " << size << " bytes" << std::endl;
	}
	if (!sharedMemory_.uiCommand () || !outpostAlive ())
	{
		std::cout << "[QuillMarlow] State cached - will be applied when outpost starts" << std::endl;
		return kResultOk;
	}
	sendStateToOutpost ();
	return kResultOk;
}

void QuillMarlowProcessor::sendStateToOutpost ()
{
	Tandem::UICommand* ui = sharedMemory_.uiCommand ();
	Tandem::StateData* state = sharedMemory_.stateData ();
	if (!ui || !state || lastState_.empty ())
		return;
	std::memcpy (state->stateBuffer, lastState_.data (), lastState_.size ());
	state->stateSize = static_cast<int32> (lastState_.size ());
	state->stateReady.store (false, std::memory_order_relaxed);
	const Deadline deadline = postStateCommand (ui, Tandem::CommandCode::SetState);
	if (pollUntil ([&] { return ui->processed.load (std::memory_order_acquire); }, deadline))
		std::cout << "[QuillMarlow] State sent to outpost" << std::endl;
	else
		std::cerr << "[QuillMarlow] Timeout waiting for outpost to apply state" << std::endl;
}

} // namespace QuillMarlow
} // namespace Steinberg
