// Test variant: Quill reporting in its output what the host told it. A block
// of at least kSessionReportSamples samples carries the SessionReport of that
// block in output channel 0 and input channel 1 unchanged in output channel 1;
// shorter blocks sound like Quill. Its latency changes only at activation, as
// the SDK's host checker expects: a restored state that asks for another one
// is announced with restartComponent(kLatencyChanged), and the host has to
// activate the component again before getLatencySamples reports it.
#pragma once

#include "quill_session_report.h"
#include "quill_single.h"

namespace Quill {

// Latency asked for per unit of tone, and the one reported before any activation.
constexpr Steinberg::uint32 kSessionLatencyRange = 1000;
constexpr Steinberg::uint32 kSessionInitialLatency = 256;

class QuillSession : public QuillSingle
{
public:
	Steinberg::tresult PLUGIN_API setupProcessing (Steinberg::Vst::ProcessSetup& setup) override;
	Steinberg::tresult PLUGIN_API setActive (Steinberg::TBool state) override;
	Steinberg::tresult PLUGIN_API setProcessing (Steinberg::TBool state) override;
	Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override;
	Steinberg::uint32 PLUGIN_API getLatencySamples () override { return appliedLatency_; }
	Steinberg::uint32 PLUGIN_API getTailSamples () override { return 0; }
	Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;

private:
	Steinberg::uint32 requestedLatency () const;

	// Calls and the last setup; the host makes them between blocks, never
	// during one, so process reads them without locking.
	SessionReport session_ {};
	Steinberg::uint32 appliedLatency_ = kSessionInitialLatency;
};

} // namespace Quill
