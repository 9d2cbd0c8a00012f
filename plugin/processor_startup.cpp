// Starting outpost: before activation (the host's controller and editor need
// the served plug-in from the moment the host connects us), and at
// activation when none runs.
#include "plugin/processor.h"

#include "log/log.h"
#include "protocol/handshake.h"

#include <filesystem>

namespace Steinberg {
namespace QuillMarlow {

using Tandem::fullFence;

bool QuillMarlowProcessor::prepareFirstStart ()
{
	if (startTried_)
		return launchPending_;
	startTried_ = true;
	// The file now, so that a view or state call finds it at once; the
	// launch may follow on another thread.
	launchPending_ = !outpost_.running () && initSharedMemory ();
	return launchPending_;
}

void QuillMarlowProcessor::finishPendingStart (const std::function<bool ()>& stopping)
{
	if (!launchPending_)
		return;
	launchPending_ = false;
	launchAndRestore (stopping);
}

bool QuillMarlowProcessor::ensureOutpost ()
{
	std::lock_guard<std::mutex> start (startLock_);
	prepareFirstStart ();
	finishPendingStart ([] { return false; });
	return outpost_.running () && outpost_.linkUp ();
}

bool QuillMarlowProcessor::launchAndRestore (const std::function<bool ()>& stopping)
{
	// The new file starts with both audio flags clear: nothing is in flight
	// (and no block comes while outpost is being started).
	awaitingLateBlock_ = false;
	if (!launchOutpost (stopping))
	{
		Tandem::logError () << "[QuillMarlow] Erreur: Impossible de lancer le outpost";
		return false;
	}
	fullFence ();
	if (sharedMemory_.audioData ()->audioReady.load (std::memory_order_relaxed) == 1)
	{
		{
			std::lock_guard<std::mutex> lock (stateLock_);
			int32 processorResult = kResultOk, controllerResult = kResultOk;
			sendStateToOutpost (stopping, &processorResult);
			sendControllerStateToOutpost (stopping, &controllerResult);
			noteRefusals (processorResult, controllerResult);
		}
		adoptServedBuses (stopping);
	}
	return true;
}

bool QuillMarlowProcessor::launchOutpost (const std::function<bool ()>& stopping)
{
	// A made bundle outlives the Windows plug-in it was made for: say so
	// once per start instead of letting outpost fail under Wine.
	std::error_code error;
	if (!served_.module.empty () && !std::filesystem::exists (served_.module, error))
	{
		Tandem::logError () << "[QuillMarlow #" << instanceId_ << "] The served module is gone: " << served_.module
		                    << " (run quillmarlow sync); audio passes through unprocessed";
		return false;
	}
	bool cameUp = false;
	return outpost_.launch (
	    [this] (Tandem::OutpostConfig& config) {
		    if (!served_.module.empty ())
		    {
			    config.modulePath = served_.windowsModule;
			    config.classId = served_.classId;
			    config.winePrefix = served_.prefix;
		    }
		    adjustOutpostConfig (config);
	    },
	    sampleRate_, maxSamplesPerBlock_, cameUp, stopping);
}

void QuillMarlowProcessor::stopBackgroundStart ()
{
	if (!starter_.joinable ())
		return;
	cancelStart_.store (true);
	starter_.join ();
}

} // namespace QuillMarlow
} // namespace Steinberg
