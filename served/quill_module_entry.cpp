// The module entry of the "entry" build of Quill, which behaves like modules
// built with the VST 3 SDK and its editor toolkit: nothing of it works until
// the host has called InitDll, and the host calls ExitDll before freeing it.
// For the tests it reports through the process environment:
//   QUILL_INIT_DLL_FAILS=1  makes InitDll fail;
//   QUILL_EXIT_DLL_LIVE     is set by ExitDll to the number of the module's
//                           objects still alive then (0 when the host
//                           released everything first).
#include <cstdio>

#include "quill_module_entry.h"
#include "quill_live_object.h"
#include <windows.h>

namespace Quill {
namespace {
bool s_entered = false;
}

bool moduleEntered ()
{
	return s_entered;
}

} // namespace Quill

extern "C" __declspec(dllexport) bool InitDll ()
{
	char fails[8] = {};
	if (GetEnvironmentVariableA ("QUILL_INIT_DLL_FAILS", fails, sizeof fails) > 0 && fails[0] == '1')
		return false;
	Quill::s_entered = true;
	return true;
}

extern "C" __declspec(dllexport) bool ExitDll ()
{
	char live[16];
	std::snprintf (live, sizeof live, "%d", Quill::liveObjects.load ());
	SetEnvironmentVariableA ("QUILL_EXIT_DLL_LIVE", live);
	Quill::s_entered = false;
	return true;
}
