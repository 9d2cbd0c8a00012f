// PluginInstance: construction, creation of the plug-in's objects, teardown,
// and the served component's buses, published for the host, with the host's
// activation of them.
#include "plugin_instance.h"
#include "log/log.h"

#include <algorithm>
#include <cstring>

#include "class_id.h"
#include "component_handler.h"
#include "host_application.h"
#include "memory_stream.h"
#include "plug_frame.h"
#include "protocol/bus_layout.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {
const char kAudioModuleCategory[] = "Audio Module Class";
const char kControllerCategory[] = "Component Controller Class";
} // namespace

PluginInstance::PluginInstance (IPluginFactory* factory, std::string classId)
: factory_ (factory), classId_ (std::move (classId)), hostApplication_ (new HostApplication)
{
	if (factory_)
		factory_->addRef ();
	logInfo () << "[PluginInstance] HostApplication created";
}

PluginInstance::~PluginInstance ()
{
	if (editor_)
		editor_->hide ();
	// A plug-in is stopped and deactivated before it is terminated; the
	// audio thread is gone by now.
	deactivate ();
	if (componentHandler_)
	{
		if (controller_)
			controller_->setComponentHandler (nullptr);
		componentHandler_->detach ();
		componentHandler_->release ();
	}
	editor_.reset ();
	if (hostApplication_)
		hostApplication_->release ();
	// Connected objects hold each other: the connection goes before they
	// are terminated, so that each lets go of the other.
	disconnectComponents ();
	if (controller_)
	{
		// One object is terminated once, as a component.
		if (!singleObject_)
			controller_->terminate ();
		controller_->release ();
	}
	if (audioProcessor_)
		audioProcessor_->release ();
	if (component_)
	{
		component_->terminate ();
		component_->release ();
	}
	if (factory_)
		factory_->release ();
}

bool PluginInstance::createInstance ()
{
	logInfo () << "[PluginInstance] Creating plugin instance...";
	if (!factory_)
	{
		logError () << "[PluginInstance] No factory available";
		return false;
	}

	const int32 count = factory_->countClasses ();
	logInfo () << "[PluginInstance] Factory has " << count << " classes";

	PClassInfo scratch;
	PClassInfo processorInfo;
	PClassInfo controllerInfo;
	std::memset (static_cast<void*> (&scratch), 0, sizeof scratch);
	std::memset (static_cast<void*> (&processorInfo), 0, sizeof processorInfo);
	std::memset (static_cast<void*> (&controllerInfo), 0, sizeof controllerInfo);
	bool foundProcessor = false;
	bool foundController = false;

	for (int32 i = 0; i < count; ++i)
	{
		if (factory_->getClassInfo (i, &scratch) != kResultOk)
			continue;
		// The factory's texts are fixed-size fields; never read past them.
		scratch.category[PClassInfo::kCategorySize - 1] = '\0';
		scratch.name[PClassInfo::kNameSize - 1] = '\0';
		logInfo () << "[PluginInstance] Class " << i << ": " << scratch.name << " (category: " << scratch.category
		           << ")";
		// The loop runs to the end: of several audio classes the one asked
		// for, or else the last one, is used.
		if (std::strcmp (scratch.category, kAudioModuleCategory) == 0)
		{
			if (!classId_.empty () && !sameClassId (classId_, classIdText (scratch.cid)))
				continue;
			processorInfo = scratch;
			foundProcessor = true;
			logInfo () << "[PluginInstance] Found processor: " << scratch.name;
		}
		else if (std::strcmp (scratch.category, kControllerCategory) == 0)
		{
			controllerInfo = scratch;
			foundController = true;
			logInfo () << "[PluginInstance] Found controller: " << scratch.name;
		}
	}

	if (count < 1 || !foundProcessor)
	{
		if (!classId_.empty ())
			logError () << "[PluginInstance] The module has no audio class " << classId_;
		else
			logError () << "[PluginInstance] No audio processor found in factory";
		return false;
	}

	logInfo () << "[PluginInstance] Creating component instance...";
	void* object = nullptr;
	tresult result = factory_->createInstance (processorInfo.cid, IComponent::iid, &object);
	if (result != kResultOk || !object)
	{
		logError () << "[PluginInstance] Failed to create component (error " << result << ")";
		return false;
	}
	component_ = static_cast<IComponent*> (object);
	logInfo () << "[PluginInstance] Component created";

	logInfo () << "[PluginInstance] Initializing component with HostApplication context...";
	if (component_->initialize (hostApplication_) != kResultOk)
	{
		logError () << "[PluginInstance] Failed to initialize component";
		component_->release ();
		component_ = nullptr;
		return false;
	}
	logInfo () << "[PluginInstance] Component initialized";

	// One object: the component is its own controller.
	IEditController* ownController = nullptr;
	if (component_->queryInterface (IEditController::iid, reinterpret_cast<void**> (&ownController)) == kResultOk &&
	    ownController)
	{
		controller_ = ownController;
		singleObject_ = true;
		logInfo () << "[PluginInstance] Got controller from component (single component design)";
		connectComponentHandler ();
		logInfo () << "[PluginInstance] Plugin instance created successfully";
		return true;
	}

	// The component names its own controller; a module may hold several,
	// and the last one need not be it.
	TUID named = {};
	if (component_->getControllerClassId (named) == kResultOk && FUID::fromTUID (named).isValid ())
	{
		std::memcpy (controllerInfo.cid, named, sizeof (TUID));
		foundController = true;
		logInfo () << "[PluginInstance] The component names its controller " << classIdText (named);
	}
	if (!foundController)
	{
		logInfo () << "[PluginInstance] No controller found";
		logInfo () << "[PluginInstance] Plugin instance created successfully";
		return true;
	}

	logInfo () << "[PluginInstance] Creating separate controller instance...";
	object = nullptr;
	result = factory_->createInstance (controllerInfo.cid, IEditController::iid, &object);
	if (result != kResultOk || !object)
	{
		logError () << "[PluginInstance] Failed to create controller (error " << result << ")";
		logInfo () << "[PluginInstance] Plugin instance created successfully";
		return true;
	}
	controller_ = static_cast<IEditController*> (object);
	logInfo () << "[PluginInstance] Separate controller created";
	logInfo () << "[PluginInstance] Initializing controller with HostApplication context...";
	if (controller_->initialize (hostApplication_) != kResultOk)
	{
		logError () << "[PluginInstance] Failed to initialize controller";
		controller_->release ();
		controller_ = nullptr;
		logInfo () << "[PluginInstance] Plugin instance created successfully";
		return true;
	}
	logInfo () << "[PluginInstance] Controller initialized";
	connectComponentHandler ();

	// Bring the controller in line with the component's current state.
	logInfo () << "[PluginInstance] Synchronizing component state to controller...";
	MemoryStream* stream = new MemoryStream;
	if (component_->getState (stream) != kResultOk || stream->data ().empty ())
	{
		logInfo () << "[PluginInstance] No component state to sync";
	}
	else
	{
		logInfo () << "[PluginInstance] Component state: " << static_cast<std::uint64_t> (stream->data ().size ())
		           << " bytes";
		stream->setPosition (0);
		result = controller_->setComponentState (stream);
		if (result == kResultOk)
			logInfo () << "[PluginInstance] Controller state synchronized!";
		else
			logInfo () << "[PluginInstance] setComponentState returned " << result
			           << " (may be normal for this plugin)";
	}
	stream->release ();

	// Connect the two in both directions.
	logInfo () << "[PluginInstance] Establishing IConnectionPoint connection...";
	IConnectionPoint* componentPoint = nullptr;
	if (component_->queryInterface (IConnectionPoint::iid, reinterpret_cast<void**> (&componentPoint)) != kResultOk ||
	    !componentPoint)
	{
		logInfo () << "[PluginInstance] Component doesn't support IConnectionPoint";
	}
	else
	{
		logInfo () << "[PluginInstance] Component supports IConnectionPoint";
		IConnectionPoint* controllerPoint = nullptr;
		if (controller_->queryInterface (IConnectionPoint::iid, reinterpret_cast<void**> (&controllerPoint)) !=
		        kResultOk ||
		    !controllerPoint)
		{
			logInfo () << "[PluginInstance] Controller doesn't support IConnectionPoint";
			componentPoint->release ();
		}
		else
		{
			logInfo () << "[PluginInstance] Controller supports IConnectionPoint";
			const tresult r1 = componentPoint->connect (controllerPoint);
			const tresult r2 = controllerPoint->connect (componentPoint);
			if (r1 == kResultOk && r2 == kResultOk)
				logInfo () << "[PluginInstance] IConnectionPoint connected successfully!";
			else
				logInfo () << "[PluginInstance] IConnectionPoint connection returned: "
				           << "comp->ctrl=" << r1 << ", ctrl->comp=" << r2;
			controllerPoint->release ();
			componentPoint->release ();
		}
	}

	logInfo () << "[PluginInstance] Plugin instance created successfully";
	return true;
}

void PluginInstance::disconnectComponents ()
{
	if (!component_ || !controller_ || singleObject_)
		return;
	IConnectionPoint* componentPoint = nullptr;
	IConnectionPoint* controllerPoint = nullptr;
	if (component_->queryInterface (IConnectionPoint::iid, reinterpret_cast<void**> (&componentPoint)) == kResultOk &&
	    componentPoint &&
	    controller_->queryInterface (IConnectionPoint::iid, reinterpret_cast<void**> (&controllerPoint)) == kResultOk &&
	    controllerPoint)
	{
		componentPoint->disconnect (controllerPoint);
		controllerPoint->disconnect (componentPoint);
	}
	if (controllerPoint)
		controllerPoint->release ();
	if (componentPoint)
		componentPoint->release ();
}

ServedEditor& PluginInstance::editor ()
{
	if (!editor_)
		editor_ = ServedEditor::create (controller_, component_, componentHandler_);
	return *editor_;
}

void PluginInstance::connectComponentHandler ()
{
	// Room for one change per parameter the host sees in every block, both
	// ways; reserved now, before the audio thread exists.
	const int32 parameters = controller_->getParameterCount ();
	if (parameters > 0)
	{
		inputChanges_.reserve (std::min (parameters, kMaxParameters));
		outputChanges_.reserve (std::min (parameters, kMaxParameters));
	}
	componentHandler_ = new ComponentHandler (&toProcessor_);
	const tresult result = controller_->setComponentHandler (componentHandler_);
	if (result == kResultOk)
		logInfo () << "[PluginInstance] Component handler set (" << parameters << " parameters)";
	else
		logInfo () << "[PluginInstance] setComponentHandler returned " << result;
}

std::uint32_t PluginInstance::changeCount () const
{
	return componentHandler_ ? componentHandler_->changeCount () : 0;
}

bool PluginInstance::readLatency (std::uint32_t& latency, std::uint32_t& tail) const
{
	if (!active_ || !audioProcessor_)
		return false;
	latency = audioProcessor_->getLatencySamples ();
	tail = audioProcessor_->getTailSamples ();
	return true;
}

void PluginInstance::relayEditsTo (Ring* ring, const std::atomic<int32>* listening)
{
	if (componentHandler_)
		componentHandler_->relayTo (ring, listening);
}

void PluginInstance::flushEditRelay ()
{
	if (componentHandler_)
		componentHandler_->flushRelay ();
}

int32 PluginInstance::takeParameterAnnouncement ()
{
	return componentHandler_ ? componentHandler_->takeParameterAnnouncement () : 0;
}

int32 PluginInstance::takeOtherAnnouncement ()
{
	return componentHandler_ ? componentHandler_->takeOtherAnnouncement () : 0;
}

void PluginInstance::relayRestart (int32 flags)
{
	if (componentHandler_)
		componentHandler_->relay (RingKind::Restart, static_cast<uint32> (flags));
}

bool PluginInstance::takeLatencyAnnouncement ()
{
	return componentHandler_ && componentHandler_->takeLatencyAnnouncement ();
}

void PluginInstance::serviceParameters ()
{
	toProcessor_.moveHeld ();
	ParameterEdit edit {};
	while (fromProcessor_.pop (edit))
		if (controller_)
			controller_->setParamNormalized (edit.id, edit.value);
	const std::uint32_t dropped = droppedOutputs_.exchange (0, std::memory_order_relaxed);
	if (dropped > 0)
		logError () << "[PluginInstance] " << dropped << " parameter values from the processor were dropped";
}

IAudioProcessor* PluginInstance::processor ()
{
	if (!audioProcessor_ && component_)
	{
		IAudioProcessor* processor = nullptr;
		if (component_->queryInterface (IAudioProcessor::iid, reinterpret_cast<void**> (&processor)) == kResultOk &&
		    processor)
		{
			audioProcessor_ = processor;
			logInfo () << "[PluginInstance] Got IAudioProcessor interface";
		}
	}
	return audioProcessor_;
}

void PluginInstance::activateDefaultBuses ()
{
	if (!component_ || busesActivated_)
		return;
	busesActivated_ = true;
	for (MediaType type : {kAudio, kEvent})
	{
		for (BusDirection dir : {kInput, kOutput})
		{
			const int32 count = component_->getBusCount (type, dir);
			for (int32 i = 0; i < count; ++i)
			{
				BusInfo info {};
				if (component_->getBusInfo (type, dir, i, info) != kResultOk)
					continue;
				// The main audio buses were always activated; others as their plug-in asks.
				const std::int32_t kind = (type == kEvent ? kEventInputs : kAudioInputs) + dir;
				if (((info.flags & BusInfo::kDefaultActive) || (type == kAudio && i == 0)) && i < maxBuses (kind) &&
				    component_->activateBus (type, dir, i, true) == kResultOk)
					activeBuses_[kind][i] = true;
			}
		}
	}
}

void PluginInstance::readLayout (BusList* list)
{
	ServedLayout layout;
	std::int32_t sampleSizes = 0;
	if (component_)
	{
		for (std::int32_t kind = 0; kind < kBusKinds; ++kind)
		{
			const MediaType type = kind < kEventInputs ? kAudio : kEvent;
			const BusDirection dir = kind % 2 == 0 ? kInput : kOutput;
			std::int32_t count = component_->getBusCount (type, dir);
			if (count > maxBuses (kind))
			{
				logError () << "[PluginInstance] The served plug-in has " << count << " "
				            << (type == kAudio ? "audio" : "event") << (dir == kInput ? " inputs" : " outputs")
				            << "; the host gets the first " << maxBuses (kind);
				count = maxBuses (kind);
			}
			count = count < 0 ? 0 : count;
			for (std::int32_t i = 0; i < count; ++i)
			{
				BusInfo info {};
				component_->getBusInfo (type, dir, i, info);
				SpeakerArrangement arrangement = 0;
				if (type == kAudio)
				{
					if (processor ())
						audioProcessor_->getBusArrangement (dir, i, arrangement);
					layout.channels[dir][i] = info.channelCount < 0 ? 0 : info.channelCount;
				}
				if (list)
				{
					BusRecord& record = busRecord (*list, kind, i);
					writeBusInfo (record, info);
					record.arrangement = arrangement;
					record.active = activeBuses_[kind][i] ? 1 : 0;
				}
			}
			if (type == kAudio)
				layout.audioBuses[dir] = count;
			else
				layout.eventBuses[dir] = count;
			if (list)
				list->counts[kind] = count;
		}
		if (processor ())
		{
			if (audioProcessor_->canProcessSampleSize (kSample32) == kResultTrue)
				sampleSizes |= kTakes32;
			if (audioProcessor_->canProcessSampleSize (kSample64) == kResultTrue)
				sampleSizes |= kTakes64;
		}
	}
	if (list)
		list->sampleSizes = sampleSizes;
	// The audio thread builds its blocks from the layout: it changes while
	// that thread leaves the processor alone.
	const bool running = audioSetup_.load (std::memory_order_seq_cst);
	if (running)
		suspendAudio ();
	layout_ = layout;
	if (running)
		audioSetup_.store (true, std::memory_order_seq_cst);
}

void PluginInstance::publishBuses (BusList& list)
{
	writeBusList (list, [this] (BusList& to) { readLayout (&to); });
	logInfo () << "[PluginInstance] Buses published: audio " << layout_.audioBuses[0] << " in, "
	           << layout_.audioBuses[1] << " out; events " << layout_.eventBuses[0] << " in, " << layout_.eventBuses[1]
	           << " out";
}

tresult PluginInstance::activateBus (const BusRequest& request)
{
	if (!component_)
		return kResultFalse;
	const MediaType type = request.mediaType == kEvent ? kEvent : kAudio;
	const BusDirection dir = request.direction == kOutput ? kOutput : kInput;
	const std::int32_t kind = (type == kEvent ? kEventInputs : kAudioInputs) + (dir == kOutput ? 1 : 0);
	if (request.index < 0 || request.index >= maxBuses (kind))
		return kInvalidArgument;
	const tresult result = component_->activateBus (type, dir, request.index, request.state != 0);
	if (result == kResultOk)
		activeBuses_[kind][request.index] = request.state != 0;
	logInfo () << "[PluginInstance] activateBus(" << (type == kEvent ? "event" : "audio") << ", "
	           << (dir == kOutput ? "output" : "input") << ", " << request.index << ", " << request.state
	           << "): " << result;
	return result;
}

} // namespace Tandem
