#include "component_handler.h"
#include "log/log.h"

#include "parameter_queue.h"

#include "pluginterfaces/gui/iplugview.h"

#include <cstring>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

tresult PLUGIN_API ComponentHandler::beginEdit (ParamID id)
{
	logInfo () << "[ComponentHandler] beginEdit " << id;
	relay (RingKind::BeginEdit, id);
	return kResultOk;
}

tresult PLUGIN_API ComponentHandler::performEdit (ParamID id, ParamValue valueNormalized)
{
	if (!edits_)
		return kResultFalse;
	if (valueNormalized != valueNormalized)
		return kInvalidArgument; // NaN reaches no processor
	edits_->post (id, valueNormalized);
	changes_.fetch_add (1, std::memory_order_relaxed);
	relay (RingKind::PerformEdit, id, valueNormalized);
	return kResultOk;
}

tresult PLUGIN_API ComponentHandler::endEdit (ParamID id)
{
	logInfo () << "[ComponentHandler] endEdit " << id;
	relay (RingKind::EndEdit, id);
	return kResultOk;
}

tresult PLUGIN_API ComponentHandler::restartComponent (int32 flags)
{
	logInfo () << "[ComponentHandler] restartComponent flags=0x" << std::hex << flags;
	if (flags & (kParamValuesChanged | kParamTitlesChanged))
		logInfo () << "[ComponentHandler] Parameter values or titles changed";
	if (flags & kLatencyChanged)
		logInfo () << "[ComponentHandler] Latency changed: reading latency and tail again";
	if (flags & (kIoChanged | kIoTitlesChanged))
		logInfo () << "[ComponentHandler] Buses changed: publishing them again for the host";
	if (flags & (kLatencyChanged | kIoChanged | kReloadComponent))
		latencyAnnounced_.store (true, std::memory_order_relaxed);
	// The host hears of these once the list and values (and the MIDI
	// mapping) are published again, of the others once the buses are.
	const int32 aboutParameters = kParamValuesChanged | kParamTitlesChanged | kParamIdMappingChanged |
	                              kMidiCCAssignmentChanged | kNoteExpressionChanged;
	parametersAnnounced_ |= flags & aboutParameters;
	othersAnnounced_.fetch_or (flags & ~aboutParameters, std::memory_order_relaxed);
	return kResultOk;
}

tresult PLUGIN_API ComponentHandler::setDirty (TBool state)
{
	if (state)
		changes_.fetch_add (1, std::memory_order_relaxed);
	relay (RingKind::SetDirty, 0, state ? 1.0 : 0.0);
	return kResultOk;
}

// Only the editor view exists on the host's side.
tresult PLUGIN_API ComponentHandler::requestOpenEditor (FIDString name)
{
	if (!ring_ || !listening_ || listening_->load (std::memory_order_relaxed) != 1 ||
	    (name && std::strcmp (name, ViewType::kEditor) != 0))
		return kResultFalse;
	relay (RingKind::RequestOpenEditor);
	return kResultOk;
}

tresult PLUGIN_API ComponentHandler::startGroupEdit ()
{
	relay (RingKind::StartGroupEdit);
	return kResultOk;
}

tresult PLUGIN_API ComponentHandler::finishGroupEdit ()
{
	relay (RingKind::FinishGroupEdit);
	return kResultOk;
}

void ComponentHandler::relay (RingKind kind, uint32 id, double value)
{
	if (!ring_ || !listening_ || listening_->load (std::memory_order_relaxed) != 1)
		return;
	flushRelay ();
	const RingEntry entry {static_cast<int32> (kind), id, value};
	if (waiting_.empty () && pushRing (*ring_, entry))
		return;
	// A host that stopped reading does not make us keep everything.
	if (waiting_.size () >= kMaxWaiting)
	{
		if (!relayCut_)
			logError () << "[ComponentHandler] The host reads no edits: later ones are not relayed";
		relayCut_ = true;
		return;
	}
	waiting_.push_back (entry);
}

void ComponentHandler::flushRelay ()
{
	while (ring_ && !waiting_.empty () && pushRing (*ring_, waiting_.front ()))
		waiting_.pop_front ();
}

} // namespace Tandem
