#include "host_application.h"
#include "log/log.h"

using namespace Steinberg;

namespace Tandem {

namespace {
const char kHostName[] = "Tandem";
}

tresult PLUGIN_API HostApplication::getName (Vst::String128 name)
{
	if (!name)
		return kInvalidArgument;
	int i = 0;
	for (; kHostName[i] != '\0' && i < 127; ++i)
		name[i] = static_cast<Vst::TChar> (static_cast<unsigned char> (kHostName[i]));
	name[i] = 0;
	name[127] = 0;
	logInfo () << "[HostApplication] getName() called, returning: " << kHostName;
	return kResultOk;
}

tresult PLUGIN_API HostApplication::createInstance (TUID, TUID, void** obj)
{
	logInfo () << "[HostApplication] createInstance() called (not implemented)";
	if (obj)
		*obj = nullptr;
	return kNotImplemented;
}

} // namespace Tandem
