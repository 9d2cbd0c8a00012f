// Stand-in for the VST 3 SDK's Linux module entry: ModuleEntry and
// ModuleExit count balanced calls and run the module initialisation on the
// first entry and the de-initialisation on the last exit.
#include "pluginterfaces/base/fplatform.h"

extern bool InitModule ();
extern bool DeinitModule ();

extern "C" {

SMTG_EXPORT_SYMBOL void* moduleHandle = nullptr;

static int moduleCounter = 0;

SMTG_EXPORT_SYMBOL bool ModuleEntry (void* sharedLibraryHandle)
{
	if (++moduleCounter == 1)
	{
		moduleHandle = sharedLibraryHandle;
		return InitModule ();
	}
	return true;
}

SMTG_EXPORT_SYMBOL bool ModuleExit (void)
{
	if (--moduleCounter == 0)
	{
		moduleHandle = nullptr;
		return DeinitModule ();
	}
	return moduleCounter >= 0;
}

} // extern "C"
