#include "plugin/controller.h"
#include "log/log.h"

#include "plugin/connection_messages.h"
#include "plugin/edit_relay.h"
#include "plugin/edit_watcher.h"
#include "plugin/latency_watcher.h"
#include "plugin/instance_registry.h"
#include "plugin/view.h"

#include "pluginterfaces/vst/ivstmessage.h"

#include <cstring>

namespace Steinberg {
namespace QuillMarlow {

FUnknown* QuillMarlowController::createInstance (void*)
{
	return static_cast<Vst::IEditController*> (new QuillMarlowController ());
}

tresult PLUGIN_API QuillMarlowController::initialize (FUnknown* context)
{
	const tresult result = EditController::initialize (context);
	if (result == kResultOk && !latencyWatcher_)
	{
		latencyWatcher_ = new LatencyWatcher ();
		latencyWatcher_->setHostHandler (getComponentHandler ());
		latencyWatcher_->useRunLoopOf (context);
	}
	if (result == kResultOk && !editRelay_)
	{
		editRelay_ = new EditRelay (parameters_);
		editRelay_->setHostHandler (getComponentHandler ());
		editRelay_->useRunLoopOf (context);
		// Without a run loop of its own, the latency watcher rides along.
		editRelay_->carry (latencyWatcher_);
	}
	return result;
}

tresult PLUGIN_API QuillMarlowController::terminate ()
{
	if (editRelay_)
	{
		editRelay_->useRunLoopOf (nullptr);
		editRelay_->carry (nullptr);
		editRelay_->setHostHandler (nullptr);
		editRelay_->detach ();
		editRelay_->release ();
		editRelay_ = nullptr;
	}
	parameters_.setListening (false);
	if (latencyWatcher_)
	{
		latencyWatcher_->useRunLoopOf (nullptr);
		latencyWatcher_->setHostHandler (nullptr);
		latencyWatcher_->release ();
		latencyWatcher_ = nullptr;
	}
	return EditController::terminate ();
}

tresult PLUGIN_API QuillMarlowController::setComponentHandler (Vst::IComponentHandler* handler)
{
	const tresult result = EditController::setComponentHandler (handler);
	if (latencyWatcher_)
		latencyWatcher_->setHostHandler (handler);
	if (editRelay_)
		editRelay_->setHostHandler (handler);
	parameters_.setListening (handler != nullptr);
	return result;
}

tresult PLUGIN_API QuillMarlowController::notify (Vst::IMessage* message)
{
	if (!message || !message->getMessageID () || std::strcmp (message->getMessageID (), kProcessorIdMessage) != 0)
		return EditController::notify (message);
	Vst::IAttributeList* attributes = message->getAttributes ();
	int64 id = 0;
	if (!attributes || attributes->getInt (kProcessorIdAttribute, id) != kResultOk)
	{
		Tandem::logError () << "[QuillMarlowController] Processor message without an instance id";
		return kResultFalse;
	}
	processorId_ = static_cast<int32> (id);
	processorKnown_ = true;
	if (latencyWatcher_)
		latencyWatcher_->follow (processorId_);
	parameters_.follow (processorId_);
	parameters_.setListening (getComponentHandler () != nullptr);
	Tandem::logInfo () << "[QuillMarlowController] Connected to processor #" << processorId_;
	return kResultOk;
}

bool QuillMarlowController::connectedProcessor (int32& instanceId) const
{
	if (processorKnown_)
		instanceId = processorId_;
	return processorKnown_;
}

IPlugView* PLUGIN_API QuillMarlowController::createView (FIDString name)
{
	Tandem::logInfo () << "[QuillMarlowController] createView(" << (name ? name : "") << ") called";
	if (!name || std::strcmp (name, "editor") != 0)
	{
		Tandem::logInfo () << "[QuillMarlowController] Unknown view type: " << (name ? name : "");
		return nullptr;
	}
	// The editor shows the plug-in of the processor the host paired with us.
	// Only a host that never connects the two leaves us to guess: then it is
	// the first active processor of this process.
	int32 instanceId = 0;
	bool found = false;
	if (processorKnown_)
	{
		instanceId = processorId_;
		found = InstanceRegistry::withUICommand (instanceId, [] (Tandem::UICommand&) {});
	}
	else
	{
		found = InstanceRegistry::findActiveInstanceId (instanceId);
	}
	if (!found)
	{
		Tandem::logError () << "[QuillMarlowController] ERROR: No active UICommand found";
		Tandem::logError () << "[QuillMarlowController] Make sure the plugin is activated first!";
		return nullptr;
	}
	if (processorKnown_)
		Tandem::logInfo () << "[QuillMarlowController] Using the editor of connected processor #" << instanceId;
	else
		Tandem::logInfo () << "[QuillMarlowController] No processor connected: using the first active processor #"
		                   << instanceId;
	Tandem::logInfo () << "[QuillMarlowController] Creating QuillMarlowView";
	const CommandRegionLink region = CommandRegionLink::toProcessor (instanceId);
	auto* view = new QuillMarlowView (region);
	// Edits in the served editor mark the host's project as changed.
	if (Vst::IComponentHandler* handler = getComponentHandler ())
	{
		auto* watcher = new EditWatcher (region, handler);
		// Without a run loop of its own, the edit relay (and the latency
		// watcher with it) rides along.
		watcher->carry (editRelay_);
		view->watchEdits (watcher);
		watcher->release ();
	}
	return view;
}

// The controller's state: the served controller's own, which our processor
// carries through outpost (see ServedState).

tresult PLUGIN_API QuillMarlowController::getState (IBStream* state)
{
	tresult result = kNotImplemented;
	// Only the processor the host paired us with knows whose state it is.
	if (!processorKnown_ || !InstanceRegistry::withInstance (
	                            processorId_, [&] (RegisteredInstance& p) { result = p.getControllerState (state); }))
		Tandem::logError ()
		    << "[QuillMarlowController] No processor connected: the served controller's state is not saved";
	return result;
}

tresult PLUGIN_API QuillMarlowController::setState (IBStream* state)
{
	tresult result = kNotImplemented;
	if (!processorKnown_ || !InstanceRegistry::withInstance (
	                            processorId_, [&] (RegisteredInstance& p) { result = p.setControllerState (state); }))
	{
		Tandem::logError ()
		    << "[QuillMarlowController] No processor connected: the served controller's state is not restored";
		return result;
	}
	// The served controller's values may have come with it.
	const int32 flags = parameters_.refresh (true);
	passEdits ();
	if (flags && getComponentHandler ())
		getComponentHandler ()->restartComponent (flags);
	return result;
}

} // namespace QuillMarlow
} // namespace Steinberg
