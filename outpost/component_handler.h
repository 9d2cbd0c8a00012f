// ComponentHandler: the IComponentHandler (and IComponentHandler2) that
// outpost gives the served controller. Edits the controller reports
// (beginEdit, performEdit, endEdit) go to the audio thread through the
// instance's parameter queue and reach the processor with the next block.
// Once relayTo has given it the parameter region's ring, it also passes
// every edit and announcement on to the Linux side, for the host's own
// component handler. All calls are expected on outpost's main thread,
// where the editor lives.
#pragma once

#include <atomic>
#include <deque>
#include <utility>

#include "protocol/parameter_data.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "sdk/ref_counted.h"

namespace Tandem {

class ParameterQueue;

class ComponentHandler : public RefCounted<Steinberg::Vst::IComponentHandler, Steinberg::Vst::IComponentHandler2>
{
public:
	explicit ComponentHandler (ParameterQueue* edits) : edits_ (edits) {}

	// IComponentHandler
	Steinberg::tresult PLUGIN_API beginEdit (Steinberg::Vst::ParamID id) override;
	Steinberg::tresult PLUGIN_API performEdit (Steinberg::Vst::ParamID id,
	                                           Steinberg::Vst::ParamValue valueNormalized) override;
	Steinberg::tresult PLUGIN_API endEdit (Steinberg::Vst::ParamID id) override;
	// Every flag reaches the host as raised: those about parameters once
	// the list and values are published again (takeParameterAnnouncement),
	// the others once the buses are (takeOtherAnnouncement). Latency
	// changes, and I/O or reload requests (which may change latency or
	// tail), are also noted for takeLatencyAnnouncement.
	Steinberg::tresult PLUGIN_API restartComponent (Steinberg::int32 flags) override;

	// IComponentHandler2
	Steinberg::tresult PLUGIN_API setDirty (Steinberg::TBool state) override;
	Steinberg::tresult PLUGIN_API requestOpenEditor (Steinberg::FIDString name) override;
	Steinberg::tresult PLUGIN_API startGroupEdit () override;
	Steinberg::tresult PLUGIN_API finishGroupEdit () override;

	// The instance lets go of the queue before it goes away; a plug-in that
	// keeps the handler longer then edits into nothing.
	void detach () { edits_ = nullptr; }
	// Grows with every edit and every setDirty(true): the project changed.
	Steinberg::uint32 changeCount () const { return changes_.load (std::memory_order_relaxed); }
	// True once after the plug-in announced that its latency or tail may
	// have changed.
	bool takeLatencyAnnouncement () { return latencyAnnounced_.exchange (false, std::memory_order_relaxed); }
	// The restartComponent flags about parameters announced since the last
	// call, for the host once the list and values are published again.
	Steinberg::int32 takeParameterAnnouncement () { return std::exchange (parametersAnnounced_, 0); }
	// The other restartComponent flags announced since the last call.
	Steinberg::int32 takeOtherAnnouncement () { return othersAnnounced_.exchange (0, std::memory_order_relaxed); }

	// The ring to the host's handler (null: none), used while `listening`
	// is 1. What does not fit waits here and goes in with the next calls,
	// in order.
	void relayTo (Ring* ring, const std::atomic<Steinberg::int32>* listening)
	{
		ring_ = ring;
		listening_ = listening;
	}
	void relay (RingKind kind, Steinberg::uint32 id = 0, double value = 0.0);
	// Moves what waits into the ring as far as it has room.
	void flushRelay ();

private:
	virtual ~ComponentHandler () = default;

	ParameterQueue* edits_;
	std::atomic<Steinberg::uint32> changes_ {0};
	std::atomic<bool> latencyAnnounced_ {false};
	Steinberg::int32 parametersAnnounced_ = 0;
	std::atomic<Steinberg::int32> othersAnnounced_ {0};
	Ring* ring_ = nullptr;
	const std::atomic<Steinberg::int32>* listening_ = nullptr;
	static constexpr std::size_t kMaxWaiting = 65536;
	std::deque<RingEntry> waiting_;
	bool relayCut_ = false;
};

} // namespace Tandem
