// Test build of Quill that crashes on demand, for the bridge's recovery
// tests. The environment variable QUILL_CRASH_TRIGGER names a file; what the
// file holds says where Quill crashes (with a null write, as a faulty
// plug-in would):
//   start     in its processor's initialize, at every start;
//   process   in process(), once: the file is removed first;
//   process-always  in process(), at every start;
//   editor    in createView, once: the file is removed first.
// Without the variable or the file it is plain Quill.
#pragma once

#include "quill_controller.h"
#include "quill_processor.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace Quill {

// True when the trigger file asks for `where`; a one-shot trigger is removed.
inline bool crashAsked (const char* where, bool oneShot)
{
	const char* path = std::getenv ("QUILL_CRASH_TRIGGER");
	if (!path || !*path)
		return false;
	HANDLE file = CreateFileA (path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
	                           FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return false;
	char text[32] = {};
	DWORD read = 0;
	ReadFile (file, text, sizeof text - 1, &read, nullptr);
	CloseHandle (file);
	for (DWORD i = 0; i < read; ++i)
		if (text[i] == '\n' || text[i] == '\r')
			text[i] = 0;
	if (std::strcmp (text, where) != 0)
		return false;
	if (oneShot)
		DeleteFileA (path);
	return true;
}

[[noreturn]] inline void crashNow ()
{
	*static_cast<volatile int*> (nullptr) = 1;
	std::abort ();
}

class CrashingProcessor : public QuillProcessor
{
public:
	Steinberg::tresult PLUGIN_API initialize (Steinberg::FUnknown* context) override
	{
		if (crashAsked ("start", false))
			crashNow ();
		return QuillProcessor::initialize (context);
	}
	Steinberg::tresult PLUGIN_API process (Steinberg::Vst::ProcessData& data) override
	{
		// The file is looked at every 32nd block, not in every one.
		if (data.numSamples > 0 && ++blocks_ % 32 == 0 &&
		    (crashAsked ("process", true) || crashAsked ("process-always", false)))
			crashNow ();
		return QuillProcessor::process (data);
	}

private:
	unsigned blocks_ = 0;
};

class CrashingController : public QuillController
{
public:
	Steinberg::IPlugView* PLUGIN_API createView (Steinberg::FIDString name) override
	{
		if (crashAsked ("editor", true))
			crashNow ();
		return QuillController::createView (name);
	}
};

} // namespace Quill
