#include "plugin/served_buses.h"
#include "plugin/utf8_text.h"
#include "plugin/served_target.h"

#include "protocol/bus_layout.h"

#include "pluginterfaces/base/ustring.h"
#include "pluginterfaces/vst/vstspeaker.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace Steinberg {
namespace QuillMarlow {

namespace {

ServedBus stereoBus (Vst::BusDirection dir, const char16_t* name)
{
	ServedBus bus {};
	bus.info.mediaType = Vst::kAudio;
	bus.info.direction = dir;
	bus.info.channelCount = 2;
	for (int32 i = 0; name[i] && i < 127; ++i)
		bus.info.name[i] = static_cast<Vst::TChar> (name[i]);
	bus.info.busType = Vst::kMain;
	bus.info.flags = Vst::BusInfo::kDefaultActive;
	bus.arrangement = Vst::SpeakerArr::kStereo;
	bus.active = true;
	return bus;
}

} // namespace

const ServedBus* ServedBuses::find (Vst::MediaType type, Vst::BusDirection dir, int32 index) const
{
	if ((type != Vst::kAudio && type != Vst::kEvent) || (dir != Vst::kInput && dir != Vst::kOutput))
		return nullptr;
	const auto& list = kinds[busKind (type, dir)];
	return index >= 0 && index < static_cast<int32> (list.size ()) ? &list[index] : nullptr;
}

ServedBus* ServedBuses::find (Vst::MediaType type, Vst::BusDirection dir, int32 index)
{
	return const_cast<ServedBus*> (static_cast<const ServedBuses&> (*this).find (type, dir, index));
}

int32 ServedBuses::channels (Vst::BusDirection dir) const
{
	int32 sum = 0;
	for (const ServedBus& bus : kinds[busKind (Vst::kAudio, dir)])
		sum += bus.info.channelCount;
	return sum;
}

// A recorded bus, as the component listed it when `quillmarlow sync` read it.
static ServedBus recordedBus (const Tandem::ServedBus& recorded)
{
	ServedBus bus {};
	bus.info.mediaType = recorded.mediaType == "event" ? Vst::kEvent : Vst::kAudio;
	bus.info.direction = recorded.direction == "output" ? Vst::kOutput : Vst::kInput;
	bus.info.channelCount =
	    recorded.channelCount < 0 ? 0 : std::min<int32> (recorded.channelCount, Tandem::kMaxBusChannels);
	copyUtf16 (bus.info.name, 128, recorded.name);
	bus.info.busType = recorded.busType == "aux" ? Vst::kAux : Vst::kMain;
	bus.info.flags = recorded.flags;
	// The arrangement the channel count names most often; the served plug-in
	// tells its own once it runs.
	const int32 n = bus.info.channelCount;
	bus.arrangement = n == 1    ? Vst::SpeakerArr::kMono
	                  : n >= 64 ? ~Vst::SpeakerArrangement {0}
	                            : (Vst::SpeakerArrangement {1} << n) - 1;
	bus.active = (recorded.flags & Vst::BusInfo::kDefaultActive) != 0;
	return bus;
}

ServedBuses initialServedBuses (const ServedTarget& target)
{
	ServedBuses buses;
	if (!target.buses.empty ())
	{
		for (const Tandem::ServedBus& recorded : target.buses)
		{
			const ServedBus bus = recordedBus (recorded);
			std::vector<ServedBus>& list = buses.kinds[busKind (bus.info.mediaType, bus.info.direction)];
			const int32 limit = bus.info.mediaType == Vst::kEvent ? Tandem::kMaxEventBuses : Tandem::kMaxAudioBuses;
			if (list.size () < static_cast<size_t> (limit))
				list.push_back (bus);
		}
		buses.sampleSizes = Tandem::kTakes32 | (target.sample64 ? Tandem::kTakes64 : 0);
		return buses;
	}
	buses.kinds[Tandem::kAudioInputs].push_back (stereoBus (Vst::kInput, u"Stereo In"));
	buses.kinds[Tandem::kAudioOutputs].push_back (stereoBus (Vst::kOutput, u"Stereo Out"));
	buses.sampleSizes = Tandem::kTakes32;
	return buses;
}

bool readServedBuses (const Tandem::BusList& list, ServedBuses& buses)
{
	auto held = std::make_unique<Tandem::BusList> ();
	Tandem::BusList& copy = *held;
	if (!Tandem::readBusList (list, copy))
		return false;
	ServedBuses read;
	for (int32 kind = 0; kind < Tandem::kBusKinds; ++kind)
	{
		for (int32 i = 0; i < copy.counts[kind]; ++i)
		{
			const Tandem::BusRecord& record = Tandem::busRecord (copy, kind, i);
			ServedBus bus {};
			Tandem::readBusInfo (record, bus.info);
			// What the other process wrote, kept within what the host may be told.
			bus.info.mediaType = kind < Tandem::kEventInputs ? Vst::kAudio : Vst::kEvent;
			bus.info.direction = kind % 2 == 0 ? Vst::kInput : Vst::kOutput;
			if (bus.info.channelCount < 0 || bus.info.channelCount > Tandem::kMaxBusChannels)
				bus.info.channelCount = 0;
			bus.arrangement = record.arrangement;
			bus.active = record.active != 0;
			read.kinds[kind].push_back (bus);
		}
	}
	read.sampleSizes = copy.sampleSizes & (Tandem::kTakes32 | Tandem::kTakes64);
	buses = std::move (read);
	return true;
}

bool sameBuses (const ServedBuses& a, const ServedBuses& b)
{
	for (int32 kind = 0; kind < Tandem::kBusKinds; ++kind)
	{
		if (a.kinds[kind].size () != b.kinds[kind].size ())
			return false;
		for (size_t i = 0; i < a.kinds[kind].size (); ++i)
		{
			const ServedBus& x = a.kinds[kind][i];
			const ServedBus& y = b.kinds[kind][i];
			if (std::memcmp (&x.info, &y.info, sizeof x.info) != 0 || x.arrangement != y.arrangement)
				return false;
		}
	}
	return a.sampleSizes == b.sampleSizes;
}

} // namespace QuillMarlow
} // namespace Steinberg
