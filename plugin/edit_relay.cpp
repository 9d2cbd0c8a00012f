#include "plugin/edit_relay.h"

#include "plugin/instance_registry.h"

#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

EditRelay::EditRelay (ParameterListReader& parameters)
: RunLoopTimer (kIntervalMs, "[QuillMarlowController] The host's run loop refused the edit timer"),
  parameters_ (&parameters)
{
}

EditRelay::~EditRelay ()
{
	useRunLoopOf (nullptr);
	setHostHandler (nullptr);
}

void EditRelay::setHostHandler (Vst::IComponentHandler* hostHandler)
{
	if (hostHandler)
		hostHandler->addRef ();
	if (hostHandler2_)
		hostHandler2_->release ();
	hostHandler2_ = nullptr;
	if (hostHandler_)
		hostHandler_->release ();
	hostHandler_ = hostHandler;
	if (hostHandler_ && (hostHandler_->queryInterface (Vst::IComponentHandler2::iid,
	                                                   reinterpret_cast<void**> (&hostHandler2_)) != kResultOk ||
	                     !hostHandler2_))
		hostHandler2_ = nullptr;
}

void EditRelay::detach ()
{
	parameters_ = nullptr;
}

int32 EditRelay::pass ()
{
	if (!parameters_)
		return 0;
	parameters_->followRelaunch ();
	int32 passed = 0;
	Tandem::RingEntry entry {};
	while (parameters_ && parameters_->nextEdit (entry))
	{
		passOne (entry);
		++passed;
	}
	return passed;
}

void EditRelay::passOne (const Tandem::RingEntry& entry)
{
	using Tandem::RingKind;
	switch (static_cast<RingKind> (entry.kind))
	{
	case RingKind::BeginEdit:
		if (hostHandler_)
			hostHandler_->beginEdit (entry.id);
		break;
	case RingKind::PerformEdit:
		// The host may read the value back at once.
		parameters_->edited (entry.id, entry.value);
		if (hostHandler_)
			hostHandler_->performEdit (entry.id, entry.value);
		break;
	case RingKind::EndEdit:
		if (hostHandler_)
			hostHandler_->endEdit (entry.id);
		break;
	case RingKind::StartGroupEdit:
		if (hostHandler2_)
			hostHandler2_->startGroupEdit ();
		break;
	case RingKind::FinishGroupEdit:
		if (hostHandler2_)
			hostHandler2_->finishGroupEdit ();
		break;
	case RingKind::SetDirty:
		if (hostHandler2_)
			hostHandler2_->setDirty (entry.value != 0.0);
		break;
	case RingKind::RequestOpenEditor:
		if (hostHandler2_)
			hostHandler2_->requestOpenEditor (Vst::ViewType::kEditor);
		break;
	case RingKind::Restart:
	{
		// Every flag as the served plug-in raised it.
		int32 flags = static_cast<int32> (entry.id);
		const int32 aboutParameters = Vst::kParamValuesChanged | Vst::kParamTitlesChanged |
		                              Tandem::kParamIdMappingChanged | Vst::kMidiCCAssignmentChanged |
		                              Vst::kNoteExpressionChanged;
		// The host reads the list again: it must be the new one.
		if (flags & aboutParameters)
			flags |= parameters_->refresh (false);
		// The same for the buses, which outpost published before it relayed this.
		if (flags & (Vst::kIoChanged | Vst::kIoTitlesChanged))
			InstanceRegistry::refreshBuses (parameters_->instanceId ());
		if (flags && hostHandler_)
		{
			Tandem::logInfo () << "[QuillMarlowController] The served plug-in asks its host to restart: "
			                   << "restartComponent(0x" << std::hex << flags << ")";
			hostHandler_->restartComponent (flags);
		}
		break;
	}
	default:
		break;
	}
}

} // namespace QuillMarlow
} // namespace Steinberg
