// The audio exchange, on the host's audio thread: each block handed to
// outpost through the shared file and its answer awaited, or passed through
// when outpost cannot answer. Nothing here allocates, locks or sleeps; it
// logs only through the audio log.
#pragma once

#include "plugin/chain_file.h"

#include "protocol/block_events.h"
#include "protocol/handshake.h"

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"

#include <memory>
#include <vector>

namespace Tandem {
class SharedMemoryCreator;
} // namespace Tandem

namespace Steinberg {
namespace QuillMarlow {

class HostBuses;
class OutpostLifecycle;

class BlockExchange
{
public:
	// `chain` is this instance's place in the process's chain file, which
	// may change while no block is in flight.
	BlockExchange (const int32& instanceId, const Tandem::SharedMemoryCreator& file, OutpostLifecycle& outpost,
	               const HostBuses& buses, const ChainFile::Place& chain);

	// One block of the host's, at `sampleRate`; `offline` waits for outpost
	// as long as it lives.
	tresult process (Vst::ProcessData& data, double sampleRate, bool offline);
	// A new file: nothing of an earlier outpost's is in flight.
	void forgetLateBlock () { awaitingLateBlock_ = false; }

	int32 audioOkCount () const { return audioOkCount_; }
	int32 timeoutCount () const { return timeoutCount_; }
	// Blocks whose post had to wake outpost (a futex call on the host's thread).
	int32 outpostWakeCount () const { return outpostWakeCount_; }

private:
	// Every output bus from the input bus of its index, or silence.
	static void passthroughBuses (Vst::ProcessData& data, int32 samples);
	// How long a real-time block of `samples` waits for outpost.
	static Tandem::HandshakeClock::duration blockTimeout (int32 samples, double sampleRate);
	// The host's parameter changes of a block, into the parameter region.
	void sendParameterChanges (Vst::IParameterChanges* changes);
	// A block of other buses than one each way with the same channels,
	// through the pools.
	void writeBusBlock (const Vst::ProcessData& data, int32 samples);
	void readBusBlock (Vst::ProcessData& data, int32 samples);
	// The host's events into the file, the served processor's out of it;
	// logs what was left out.
	void sendEvents (Vst::IEventList* events, int32 samples);
	void receiveEvents (Vst::IEventList* events, int32 samples);
	void logEventCuts (const Tandem::EventCuts& cuts, bool host);

	const int32& instanceId_;
	const Tandem::SharedMemoryCreator& file_;
	OutpostLifecycle& outpost_;
	const HostBuses& buses_;
	const ChainFile::Place& chain_;

	int32 processCallCount_ = 0;
	int32 timeoutCount_ = 0;
	int32 audioOkCount_ = 0;
	int32 pointsCutCount_ = 0;
	int32 eventCutCount_ = 0;
	int32 outpostWakeCount_ = 0;
	// The host's events of a block, copied into the file once written; the
	// served processor's and their bytes, copied out of it (valid until the
	// next block).
	std::unique_ptr<Tandem::EventBlock> sentEvents_ = std::make_unique<Tandem::EventBlock> ();
	std::unique_ptr<Vst::Event[]> receivedEvents_ = std::make_unique<Vst::Event[]> (Tandem::kMaxEvents);
	std::vector<uint8> eventBytes_ = std::vector<uint8> (Tandem::kMaxEventBytes);
	// The buses and channels of the block in flight.
	int32 blockBuses_[2] = {};
	int32 blockChannels_[2][Tandem::kMaxAudioBuses] = {};
	// A block timed out and outpost may still be working on it, so the slots
	// are not ours until it has finished.
	bool awaitingLateBlock_ = false;
};

} // namespace QuillMarlow
} // namespace Steinberg
