// Test variant: Quill as a look-ahead effect would report itself. Its
// latency follows the tone parameter (tone times kLookAheadRange samples),
// its tail is kLookAheadTail; a restored state that moves the latency is
// announced to the host with restartComponent(kLatencyChanged), as plug-ins
// whose look-ahead depends on a setting do. It sounds like Quill (no delay).
#pragma once

#include "quill_single.h"

namespace Quill {

constexpr Steinberg::uint32 kLookAheadRange = 1000;
constexpr Steinberg::uint32 kLookAheadTail = 4800;

class QuillLookAhead : public QuillSingle
{
public:
	Steinberg::uint32 PLUGIN_API getLatencySamples () override;
	Steinberg::uint32 PLUGIN_API getTailSamples () override { return kLookAheadTail; }
	Steinberg::tresult PLUGIN_API setState (Steinberg::IBStream* state) override;
};

} // namespace Quill
