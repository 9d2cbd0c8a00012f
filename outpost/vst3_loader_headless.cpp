// VST3Loader without Win32, for native builds: there is no Windows module to
// load, so every load fails the way a missing module does.
#include "vst3_loader.h"
#include "log/log.h"

namespace Tandem {

VST3Loader::~VST3Loader ()
{
	unload ();
}

bool VST3Loader::load (const std::string& path)
{
	logError () << "[VST3Loader] Failed to load module: " << path << " (no Windows modules natively)";
	error_ = "no Windows modules natively";
	return false;
}

void VST3Loader::unload ()
{
	if (factory_)
		factory_->release ();
	factory_ = nullptr;
	module_ = nullptr;
	getFactoryProc_ = nullptr;
	entered_ = false;
}

} // namespace Tandem
