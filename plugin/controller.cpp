#include "plugin/controller.h"

#include "plugin/connection_messages.h"
#include "plugin/processor.h"
#include "plugin/view.h"

#include "pluginterfaces/vst/ivstmessage.h"

#include <cstring>
#include <iostream>

namespace Steinberg {
namespace QuillMarlow {

FUnknown* QuillMarlowController::createInstance (void*)
{
	return static_cast<Vst::IEditController*> (new QuillMarlowController ());
}

tresult PLUGIN_API QuillMarlowController::initialize (FUnknown* context)
{
	return EditController::initialize (context);
}

tresult PLUGIN_API QuillMarlowController::terminate ()
{
	return EditController::terminate ();
}

tresult PLUGIN_API QuillMarlowController::notify (Vst::IMessage* message)
{
	if (!message || !message->getMessageID () || std::strcmp (message->getMessageID (), kProcessorIdMessage) != 0)
		return EditController::notify (message);
	Vst::IAttributeList* attributes = message->getAttributes ();
	int64 id = 0;
	if (!attributes || attributes->getInt (kProcessorIdAttribute, id) != kResultOk)
	{
		std::cerr << "[QuillMarlowController] Processor message without an instance id" << std::endl;
		return kResultFalse;
	}
	processorId_ = static_cast<int32> (id);
	processorKnown_ = true;
	std::cout << "[QuillMarlowController] Connected to processor #" << processorId_ << std::endl;
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
	std::cout << "[QuillMarlowController] createView(" << (name ? name : "") << ") called" << std::endl;
	if (!name || std::strcmp (name, "editor") != 0)
	{
		std::cout << "[QuillMarlowController] Unknown view type: " << (name ? name : "") << std::endl;
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
		found = QuillMarlowProcessor::withUICommand (instanceId, [] (Tandem::UICommand&) {});
	}
	else
	{
		found = QuillMarlowProcessor::findActiveInstanceId (instanceId);
	}
	if (!found)
	{
		std::cerr << "[QuillMarlowController] ERROR: No active UICommand found" << std::endl;
		std::cerr << "[QuillMarlowController] Make sure the plugin is activated first!" << std::endl;
		return nullptr;
	}
	if (processorKnown_)
		std::cout << "[QuillMarlowController] Using the editor of connected processor #" << instanceId << std::endl;
	else
		std::cout << "[QuillMarlowController] No processor connected: using the first active processor #"
		          << instanceId << std::endl;
	std::cout << "[QuillMarlowController] Creating QuillMarlowView" << std::endl;
	return new QuillMarlowView (CommandRegionLink::toProcessor (instanceId));
}

} // namespace QuillMarlow
} // namespace Steinberg
