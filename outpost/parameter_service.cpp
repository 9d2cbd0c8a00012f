#include "parameter_service.h"

#include "linux_calls.h"
#include "protocol/futex.h"

#include <chrono>

namespace Tandem {

void ParameterService::start ()
{
	PluginInstance* plugin = instance_.plugin.get ();
	ParameterData* region = instance_.regions.parameters;
	if (!plugin || !region)
		return;
	list_ = std::make_unique<ParameterListWriter> (*region, plugin->controller ());
	// Before the list: a Linux side that has the list knows them too.
	midi_ = std::make_unique<MidiMappingWriter> (*region, plugin->component (), plugin->controller ());
	midi_->publish ();
	list_->publishList ();
	plugin->relayEditsTo (&region->edits, &region->request.hostListens);
}

void ParameterService::service (bool linuxCalls)
{
	if (!list_)
		return;
	PluginInstance& plugin = *instance_.plugin;
	list_->takeHostValues ();
	if (!midi_->serveRequest (linuxCalls))
		list_->serveRequest (linuxCalls);
	// A list announced by the plug-in is published before the host hears
	// of it, so that the host reads the new one.
	Steinberg::int32 flags = plugin.takeParameterAnnouncement ();
	if (flags & (Steinberg::Vst::kParamTitlesChanged | kParamIdMappingChanged))
		flags |= list_->publishList ();
	// A new MIDI mapping, too, is published before the host asks again.
	if (flags & Steinberg::Vst::kMidiCCAssignmentChanged)
		midi_->publishMapping ();
	list_->publishValues ();
	if (flags)
		plugin.relayRestart (flags);
	plugin.flushEditRelay ();
}

void ParameterService::publishAfterState ()
{
	if (!list_)
		return;
	PluginInstance& plugin = *instance_.plugin;
	// A state may bring another list (a plug-in that builds it from its
	// state) without the plug-in saying so.
	const Steinberg::int32 flags = list_->publishList () | plugin.takeParameterAnnouncement ();
	if (flags & Steinberg::Vst::kMidiCCAssignmentChanged)
		midi_->publishMapping ();
	list_->publishValues ();
	if (flags)
		plugin.relayRestart (flags);
}

void ParameterService::startWaker (WordWaker& waker)
{
	ParameterData* region = instance_.regions.parameters;
	if (!region || waker_)
		return;
	waker_ = &waker;
	waker.watch (region->request.wake);
}

void ParameterService::stop ()
{
	if (waker_)
		waker_->unwatch (instance_.regions.parameters->request.wake);
	waker_ = nullptr;
	midi_.reset ();
	list_.reset ();
}

} // namespace Tandem
