// Test variant: Quill taking its gain only on the thread that created it,
// as plug-ins made with JUCE do. It creates a message-only window on that
// thread; process() only notes the host's gain, a thread of its own posts a
// message to that window when a value waits (every 10 ms, as JUCE's timer
// thread posts its timer callbacks), and the window's procedure applies it.
// So the sound follows the host only while the host dispatches that
// thread's messages. It plays a plain gain: out = in * gain (normalized).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "quill_single.h"

namespace Quill {

class QuillMessageThread : public QuillSingle
{
public:
	QuillMessageThread ();

	Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override;

protected:
	~QuillMessageThread () override;

private:
	// The window's procedure, on the thread that created the plug-in.
	static std::intptr_t __stdcall windowProc (void* window, unsigned message, std::uintptr_t wParam,
	                                           std::intptr_t lParam);
	// The posting thread.
	void post ();

	void* window_ = nullptr;
	std::thread poster_;
	std::atomic<bool> running_ {true};
	// The host's latest gain (audio thread), waiting for the message thread.
	std::atomic<double> hostGain_ {kDefaultGain};
	std::atomic<bool> waiting_ {false};
	// What the sound uses: written on the message thread only.
	std::atomic<double> appliedGain_ {kDefaultGain};
};

} // namespace Quill
