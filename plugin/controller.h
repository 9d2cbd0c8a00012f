// The plug-in's edit controller: no parameters of its own; it hands out the
// editor view that embeds the served plug-in's Windows editor.
#pragma once

#include "public.sdk/source/vst/vsteditcontroller.h"

namespace Steinberg {
namespace QuillMarlow {

class LatencyWatcher;

class QuillMarlowController : public Vst::EditController
{
public:
	static FUnknown* createInstance (void* context);

	tresult PLUGIN_API initialize (FUnknown* context) SMTG_OVERRIDE;
	tresult PLUGIN_API terminate () SMTG_OVERRIDE;
	IPlugView* PLUGIN_API createView (FIDString name) SMTG_OVERRIDE;
	// Takes the instance id of the processor the host connected us with.
	tresult PLUGIN_API notify (Vst::IMessage* message) SMTG_OVERRIDE;
	// The host's handler also hears of the served plug-in's latency changes.
	tresult PLUGIN_API setComponentHandler (Vst::IComponentHandler* handler) SMTG_OVERRIDE;

	// The processor this controller belongs to, once the host has connected
	// the two; false while it never did.
	bool connectedProcessor (int32& instanceId) const;

private:
	// Tells the host of latency changes, on the host context's run loop when
	// it offers one, else on the open editor's.
	LatencyWatcher* latencyWatcher_ = nullptr;
	bool processorKnown_ = false;
	int32 processorId_ = 0;
};

} // namespace QuillMarlow
} // namespace Steinberg
