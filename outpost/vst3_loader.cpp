#include "vst3_loader.h"
#include "log/log.h"

namespace Tandem {

namespace {
// Where a bundle folder keeps the 64-bit Windows module.
const char kBundleFolder[] = "\\Contents\\x86_64-win\\";
const char kBundleModuleName[] = "Quill.vst3";

// The module entry of modules built with the VST 3 SDK on Windows.
using ModuleEntryProc = bool (PLUGIN_API*) ();

ModuleEntryProc moduleEntryProc (HMODULE module, const char* name)
{
	return reinterpret_cast<ModuleEntryProc> (reinterpret_cast<void (*) ()> (GetProcAddress (module, name)));
}

// Paths come as UTF-8 (plug-ins live under names of any language).
HMODULE loadLibraryUtf8 (const std::string& path)
{
	const int length = MultiByteToWideChar (CP_UTF8, 0, path.c_str (), -1, nullptr, 0);
	if (length <= 0)
		return LoadLibraryA (path.c_str ());
	std::wstring wide (static_cast<size_t> (length), L'\0');
	MultiByteToWideChar (CP_UTF8, 0, path.c_str (), -1, &wide[0], length);
	return LoadLibraryW (wide.c_str ());
}
} // namespace

VST3Loader::~VST3Loader ()
{
	unload ();
}

bool VST3Loader::load (const std::string& path)
{
	logInfo () << "[VST3Loader] Loading plugin: " << path;
	std::string loaded = path;
	error_.clear ();
	module_ = loadLibraryUtf8 (path);
	if (!module_)
	{
		const DWORD error = GetLastError ();
		module_ = loadFromBundle (path, loaded);
		if (!module_)
		{
			error_ = error == ERROR_BAD_EXE_FORMAT ? "not a 64-bit Windows module"
			                                       : "Windows could not load it (error " + std::to_string (error) + ")";
			return false;
		}
	}
	logInfo () << "[VST3Loader] Module loaded successfully";
	logInfo () << "[VST3Loader] Module file: " << loaded;

	if (!enterModule ())
	{
		error_ = "its InitDll refused to initialise";
		unload ();
		return false;
	}

	getFactoryProc_ =
	    reinterpret_cast<GetFactoryProc> (reinterpret_cast<void (*) ()> (GetProcAddress (module_, "GetPluginFactory")));
	if (!getFactoryProc_)
	{
		logError () << "[VST3Loader] GetPluginFactory not found";
		error_ = "it has no GetPluginFactory (not a VST 3 module)";
		unload ();
		return false;
	}
	factory_ = getFactoryProc_ ();
	if (!factory_)
	{
		logError () << "[VST3Loader] GetPluginFactory returned null";
		error_ = "its GetPluginFactory returned no factory";
		unload ();
		return false;
	}
	logInfo () << "[VST3Loader] Plugin factory obtained successfully";
	return true;
}

HMODULE VST3Loader::loadFromBundle (const std::string& path, std::string& loaded)
{
	const std::string folder = path + kBundleFolder;
	loaded = folder + kBundleModuleName;
	logInfo () << "[VST3Loader] Trying: " << loaded;
	HMODULE module = LoadLibraryA (loaded.c_str ());
	if (module)
		return module;
	DWORD error = GetLastError ();

	// A bundle keeps its module under the plug-in's own name: take the one
	// .vst3 file of the folder.
	WIN32_FIND_DATAA found;
	HANDLE search = FindFirstFileA ((folder + "*.vst3").c_str (), &found);
	if (search != INVALID_HANDLE_VALUE)
	{
		std::string name;
		int count = 0;
		do
		{
			if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
				continue;
			if (++count == 1)
				name = found.cFileName;
		} while (FindNextFileA (search, &found));
		FindClose (search);
		if (count > 1)
		{
			logError () << "[VST3Loader] " << count << " modules in " << folder << ": cannot tell which to load";
		}
		else if (count == 1 && lstrcmpiA (name.c_str (), kBundleModuleName) != 0)
		{
			loaded = folder + name;
			logInfo () << "[VST3Loader] Trying: " << loaded;
			module = LoadLibraryA (loaded.c_str ());
			if (module)
				return module;
			error = GetLastError ();
		}
	}
	logError () << "[VST3Loader] Failed to load module: " << error;
	return nullptr;
}

bool VST3Loader::enterModule ()
{
	ModuleEntryProc initDll = moduleEntryProc (module_, "InitDll");
	if (initDll && !initDll ())
	{
		// Nothing of a module that refused to initialise is used, not even
		// its ExitDll: it is only freed.
		logError () << "[VST3Loader] InitDll failed: the module refused to initialise";
		return false;
	}
	if (initDll)
		logInfo () << "[VST3Loader] InitDll called";
	entered_ = true;
	return true;
}

void VST3Loader::unload ()
{
	if (factory_)
	{
		factory_->release ();
		factory_ = nullptr;
	}
	if (module_)
	{
		if (entered_)
		{
			if (ModuleEntryProc exitDll = moduleEntryProc (module_, "ExitDll"))
				exitDll ();
			entered_ = false;
		}
		FreeLibrary (module_);
		module_ = nullptr;
	}
	getFactoryProc_ = nullptr;
}

} // namespace Tandem
