#include "quill_look_ahead.h"

#include <cmath>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

uint32 PLUGIN_API QuillLookAhead::getLatencySamples ()
{
	return static_cast<uint32> (std::lround (currentParams ().tone * kLookAheadRange));
}

tresult PLUGIN_API QuillLookAhead::setState (IBStream* state)
{
	const uint32 before = getLatencySamples ();
	const tresult result = QuillSingle::setState (state);
	if (result == kResultOk && getLatencySamples () != before)
		restartHost (kLatencyChanged);
	return result;
}

} // namespace Quill
