// The host's ProcessContext in the session region, byte for byte: both
// programs compile VST 3's structure with the same layout, checked here on
// each side.
#pragma once

#include "protocol/session_data.h"

#include "pluginterfaces/vst/ivstprocesscontext.h"

#include <cstddef>
#include <cstring>

namespace Tandem {

static_assert (sizeof (Steinberg::Vst::ProcessContext) == kProcessContextSize, "ProcessContext layout");
static_assert (offsetof (Steinberg::Vst::ProcessContext, sampleRate) == 8, "ProcessContext layout");
static_assert (offsetof (Steinberg::Vst::ProcessContext, projectTimeSamples) == 16, "ProcessContext layout");
static_assert (offsetof (Steinberg::Vst::ProcessContext, tempo) == 72, "ProcessContext layout");
static_assert (offsetof (Steinberg::Vst::ProcessContext, timeSigNumerator) == 80, "ProcessContext layout");
static_assert (offsetof (Steinberg::Vst::ProcessContext, frameRate) == 96, "ProcessContext layout");
static_assert (offsetof (Steinberg::Vst::ProcessContext, samplesToNextClock) == 104, "ProcessContext layout");

// Linux side, with each block: the host's context, or none.
inline void storeHostContext (SessionData& session, const Steinberg::Vst::ProcessContext* context)
{
	session.hasContext = context ? 1 : 0;
	if (context)
		std::memcpy (session.processContext, context, kProcessContextSize);
}

// outpost, with each block: the host's context copied into `into`, or null
// when the host gave none.
inline Steinberg::Vst::ProcessContext* loadHostContext (const SessionData& session,
                                                        Steinberg::Vst::ProcessContext& into)
{
	if (session.hasContext != 1)
		return nullptr;
	std::memcpy (&into, session.processContext, kProcessContextSize);
	return &into;
}

} // namespace Tandem
