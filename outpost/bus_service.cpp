#include "bus_service.h"

#include "log/log.h"
#include "protocol/event_data.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Tandem {

namespace {

tresult setBusArrangements (PluginInstance& plugin, const BusRequest& request)
{
	IAudioProcessor* processor = plugin.processor ();
	if (!processor)
		return kResultFalse;
	const int32 inputs = clampCount (request.inputCount, kMaxAudioBuses);
	const int32 outputs = clampCount (request.outputCount, kMaxAudioBuses);
	SpeakerArrangement in[kMaxAudioBuses], out[kMaxAudioBuses];
	for (int32 i = 0; i < inputs; ++i)
		in[i] = request.inputs[i];
	for (int32 i = 0; i < outputs; ++i)
		out[i] = request.outputs[i];
	const tresult result = processor->setBusArrangements (in, inputs, out, outputs);
	logInfo () << "[PluginInstance] setBusArrangements(" << inputs << " in, " << outputs << " out): " << result;
	return result;
}

tresult routingInfo (PluginInstance& plugin, BusRequest& request)
{
	IComponent* component = plugin.component ();
	if (!component)
		return kResultFalse;
	RoutingInfo in {request.routing[0], request.routing[1], request.routing[2]};
	RoutingInfo out {};
	const tresult result = component->getRoutingInfo (in, out);
	request.routing[3] = out.mediaType;
	request.routing[4] = out.busIndex;
	request.routing[5] = out.channel;
	return result;
}

} // namespace

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
		request.result = setBusArrangements (*plugin, request);
		break;
	case kActivateBusCommand:
		request.result = plugin->activateBus (request);
		break;
	case kSetIoModeCommand:
		request.result = plugin->component () ? plugin->component ()->setIoMode (request.ioMode) : kResultFalse;
		break;
	case kGetRoutingInfoCommand:
		request.result = routingInfo (*plugin, request);
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
