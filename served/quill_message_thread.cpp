#include "quill_message_thread.h"

#include <windows.h>

#include "pluginterfaces/vst/ivstparameterchanges.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace Quill {

namespace {

constexpr UINT kApplyMessage = WM_USER + 123; // JUCE's own number
const wchar_t kWindowClass[] = L"QuillMessageThread";

HINSTANCE ownModule ()
{
	HMODULE module = nullptr;
	GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
	                    reinterpret_cast<LPCWSTR> (&ownModule), &module);
	return module;
}

} // namespace

QuillMessageThread::QuillMessageThread ()
{
	withoutEditor ();
	WNDCLASSW windowClass {};
	windowClass.lpfnWndProc =
	    reinterpret_cast<WNDPROC> (reinterpret_cast<void (*) ()> (&QuillMessageThread::windowProc));
	windowClass.hInstance = ownModule ();
	windowClass.lpszClassName = kWindowClass;
	RegisterClassW (&windowClass); // fails harmlessly for a second instance
	HWND window = CreateWindowExW (0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ownModule (), nullptr);
	if (window)
		SetWindowLongPtrW (window, GWLP_USERDATA, reinterpret_cast<LONG_PTR> (this));
	window_ = window;
	poster_ = std::thread (&QuillMessageThread::post, this);
}

QuillMessageThread::~QuillMessageThread ()
{
	running_ = false;
	if (poster_.joinable ())
		poster_.join ();
	// Released on the thread that created it, as hosts do.
	if (window_)
		DestroyWindow (static_cast<HWND> (window_));
}

void QuillMessageThread::post ()
{
	while (running_.load ())
	{
		Sleep (10);
		if (waiting_.exchange (false) && window_)
			PostMessageW (static_cast<HWND> (window_), kApplyMessage, 0, 0);
	}
}

std::intptr_t __stdcall QuillMessageThread::windowProc (void* window, unsigned message, std::uintptr_t wParam,
                                                        std::intptr_t lParam)
{
	HWND hwnd = static_cast<HWND> (window);
	if (message == kApplyMessage)
	{
		if (auto* self = reinterpret_cast<QuillMessageThread*> (GetWindowLongPtrW (hwnd, GWLP_USERDATA)))
			self->appliedGain_.store (self->hostGain_.load ());
		return 0;
	}
	return DefWindowProcW (hwnd, message, wParam, lParam);
}

tresult PLUGIN_API QuillMessageThread::process (ProcessData& data)
{
	if (IParameterChanges* changes = data.inputParameterChanges)
	{
		for (int32 i = 0; i < changes->getParameterCount (); ++i)
		{
			IParamValueQueue* queue = changes->getParameterData (i);
			int32 offset = 0;
			ParamValue value = 0.0;
			if (queue && queue->getParameterId () == kGainId && queue->getPointCount () > 0 &&
			    queue->getPoint (queue->getPointCount () - 1, offset, value) == kResultOk)
			{
				hostGain_.store (value);
				waiting_.store (true);
			}
		}
	}
	if (data.numSamples <= 0 || data.numOutputs < 1 || !data.outputs || data.numInputs < 1 || !data.inputs)
		return kResultOk;
	AudioBusBuffers& in = data.inputs[0];
	AudioBusBuffers& out = data.outputs[0];
	out.silenceFlags = 0;
	const float gain = static_cast<float> (appliedGain_.load ());
	for (int32 c = 0; c < out.numChannels && c < in.numChannels; ++c)
	{
		if (!in.channelBuffers32 || !out.channelBuffers32 || !in.channelBuffers32[c] || !out.channelBuffers32[c])
			continue;
		for (int32 s = 0; s < data.numSamples; ++s)
			out.channelBuffers32[c][s] = in.channelBuffers32[c][s] * gain;
	}
	return kResultOk;
}

} // namespace Quill
