// Where each region lies in the mapped file: one description that both
// programs build their pointers from (the Linux side after it created and
// mapped the file, outpost after it mapped it).
#pragma once

#include "protocol/event_data.h"
#include "protocol/tandem_protocol.h"

#include <cstddef>
#include <initializer_list>

namespace Tandem {

// The regions of a mapped file of kFileSize bytes.
struct Regions
{
	UICommand* uiCommand;
	AudioData* audioData;
	StateData* stateData;
	SessionData* session;
	ParameterData* parameters;
	BusData* buses;
	EventData* events;
};

inline Regions regionsAt (void* base)
{
	auto* bytes = static_cast<unsigned char*> (base);
	return {reinterpret_cast<UICommand*> (bytes + kUICommandOffset),
	        reinterpret_cast<AudioData*> (bytes + kAudioDataOffset),
	        reinterpret_cast<StateData*> (bytes + kStateDataOffset),
	        sessionAt (base),
	        parametersAt (base),
	        busesAt (base),
	        eventsAt (base)};
}

// Both sides lock the audio path's part of the file page by page, as its
// pages are touched. Before an activation's first block each side touches
// the pages that blocks of up to `maxSamples` use, so that no block faults
// one in: the channel slots, the session and block parameters, the start
// of each pool (8 channels of 64-bit samples) and of each event list (128
// events and 4 KB of their bytes): a block with more faults its pages in
// once. A page fault is dear (tens of microseconds on a loaded virtual
// machine), and a session restores dozens of instances one after another.
// One byte a page is rewritten as it is, in one atomic step, so that a
// block being written meanwhile stays whole.
inline void touchBlockPages (const Regions& regions, std::int32_t maxSamples)
{
	const auto touch = [] (void* start, std::size_t bytes) {
		auto* first = static_cast<unsigned char*> (start);
		for (std::size_t at = 0; at < bytes + 4096; at += 4096)
			__atomic_fetch_or (first + (at < bytes ? at : bytes - 1), 0, __ATOMIC_RELAXED);
	};
	if (!regions.audioData)
		return;
	const std::int32_t samples = maxSamples < 1 ? 1 : maxSamples > kMaxBlockSize ? kMaxBlockSize : maxSamples;
	for (std::int32_t c = 0; c < kMaxChannels; ++c)
	{
		touch (regions.audioData->inputBuffers[c], samples * sizeof (float));
		touch (regions.audioData->outputBuffers[c], samples * sizeof (float));
	}
	touch (regions.session, kAudioPartSize - kSessionDataOffset);
	const std::size_t pool = kMaxChannels * channelStride (samples, 1);
	touch (regions.buses->inputPool, pool);
	touch (regions.buses->outputPool, pool);
	for (EventBlock* block : {&regions.events->input, &regions.events->output})
	{
		touch (block, offsetof (EventBlock, records) + kTouchedEvents * kEventRecordSize);
		touch (block->bytes, kTouchedEventBytes);
	}
}

} // namespace Tandem
