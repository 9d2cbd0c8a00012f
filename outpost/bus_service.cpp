#include "bus_service.h"

#include "log/log.h"
#include "protocol/event_data.h"

namespace Tandem {

void BusService::start ()
{
	PluginInstance* plugin = instance_.plugin.get ();
	BusData* buses = instance_.regions.buses;
	if (!plugin || !buses)
		return;
	plugin->activateDefaultBuses ();
	plugin->publishBuses (buses->list);
}

void BusService::handle (std::int32_t code)
{
	PluginInstance* plugin = instance_.plugin.get ();
	BusData* buses = instance_.regions.buses;
	if (!plugin || !buses)
		return;
	BusRequest& request = buses->request;
	switch (code)
	{
	case kSetBusArrangementsCommand:
		request.result = plugin->setBusArrangements (request);
		break;
	case kActivateBusCommand:
		request.result = plugin->activateBus (request);
		break;
	case kSetIoModeCommand:
		request.result = plugin->setIoMode (request.ioMode);
		break;
	case kGetRoutingInfoCommand:
		request.result = plugin->routingInfo (request);
		return;
	default:
		return;
	}
	// The host reads the buses back at once.
	plugin->publishBuses (buses->list);
}

void BusService::relayOtherRestarts ()
{
	PluginInstance* plugin = instance_.plugin.get ();
	BusData* buses = instance_.regions.buses;
	if (!plugin)
		return;
	const Steinberg::int32 flags = plugin->takeOtherAnnouncement ();
	if (!flags)
		return;
	if (buses && (flags & (Steinberg::Vst::kIoChanged | Steinberg::Vst::kIoTitlesChanged)))
		plugin->publishBuses (buses->list);
	plugin->relayRestart (flags);
}

void BusService::processBlock (std::int32_t samples, HostBlock& host)
{
	BusData* buses = instance_.regions.buses;
	BusBlock& block = buses->block;
	const std::int32_t sampleSize =
	    block.sampleSize == Steinberg::Vst::kSample64 ? Steinberg::Vst::kSample64 : Steinberg::Vst::kSample32;
	BlockAudio in, out;
	in.base = buses->inputPool;
	out.base = buses->outputPool;
	in.stride = out.stride = channelStride (samples, sampleSize);
	in.busCount = clampCount (block.inputCount, kMaxAudioBuses);
	out.busCount = clampCount (block.outputCount, kMaxAudioBuses);
	for (std::int32_t b = 0; b < in.busCount; ++b)
	{
		in.channels[b] = block.inputChannels[b];
		in.silence[b] = block.inputSilence[b];
	}
	for (std::int32_t b = 0; b < out.busCount; ++b)
		out.channels[b] = block.outputChannels[b];
	instance_.plugin->processBlock (samples, sampleSize, in, out, &host);
	for (std::int32_t b = 0; b < out.busCount; ++b)
		block.outputSilence[b] = out.silence[b];
}

} // namespace Tandem
