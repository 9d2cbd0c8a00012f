// VST3Loader: loads the served plug-in's module, enters it the way modules
// built with the VST 3 SDK expect (InitDll after loading, ExitDll before
// freeing) and obtains its factory through the GetPluginFactory export.
#pragma once

#include <string>

#include "pluginterfaces/base/ipluginbase.h"
#include "win32.h"

namespace Tandem {

class VST3Loader
{
public:
	VST3Loader () = default;
	~VST3Loader ();
	VST3Loader (const VST3Loader&) = delete;
	VST3Loader& operator= (const VST3Loader&) = delete;

	// `path` names the module file or a bundle folder. In a bundle folder
	// the module is <path>\Contents\x86_64-win\Quill.vst3, or else the one
	// .vst3 file in that folder, whatever its name.
	bool load (const std::string& path);
	// Releases the factory, calls the module's ExitDll and frees it. Every
	// other object of the module must be released before.
	void unload ();
	std::string getPluginName () const { return "VST3 Plugin"; }

	Steinberg::IPluginFactory* factory () const { return factory_; }
	// Why the last load failed, in words.
	const std::string& error () const { return error_; }

private:
	using GetFactoryProc = Steinberg::IPluginFactory*(PLUGIN_API*)();

	// Loads the module of a bundle folder; null when there is none.
	HMODULE loadFromBundle (const std::string& path, std::string& loaded);
	// Calls InitDll when the module exports it; false when it failed.
	bool enterModule ();

	HMODULE module_ = nullptr;
	Steinberg::IPluginFactory* factory_ = nullptr;
	GetFactoryProc getFactoryProc_ = nullptr;
	// The module was entered (InitDll succeeded, or it has none): its
	// ExitDll, when it has one, is owed before the module is freed.
	bool entered_ = false;
	std::string error_;
};

} // namespace Tandem
