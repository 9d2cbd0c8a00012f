// The module entry of modules built like the VST 3 SDK's, under Wine, with
// the "entry" build of Quill: its bundle keeps the module under another
// name (Entry.vst3), its factory exists only after InitDll, and its ExitDll
// records how many of its objects were still alive. outpost must find the
// module, call InitDll before any use and ExitDll only after releasing
// every object of the module (factory, component, controller, editor).
#include <gtest/gtest.h>

#include "captured_output.h"

#include <string>

#include "application.h"
#include "plugin_instance.h"
#include "protocol/file_regions.h"
#include "vst3_loader.h"

namespace Tandem {

struct OutpostApplicationTestAccess
{
	static void command (OutpostApplication& app) { app.processUICommand (); }
	static bool hasEditor (const OutpostApplication& app)
	{
		const ServedInstance& served = app.instances_.front ()->instance_;
		return served.plugin && served.plugin->hasEditor ();
	}
};

} // namespace Tandem

using Tandem::OutpostApplication;
using Tandem::OutpostApplicationTestAccess;
using Tandem::PluginInstance;
using Tandem::VST3Loader;

namespace {

const char kModuleName[] = "Entry.vst3";

std::string environment (const char* name)
{
	char value[64];
	const DWORD n = GetEnvironmentVariableA (name, value, sizeof value);
	return n > 0 && n < sizeof value ? std::string (value, n) : std::string ();
}

// What ExitDll reported: the count of the module's live objects, or empty
// while it was not called.
std::string exitDllReport ()
{
	return environment ("QUILL_EXIT_DLL_LIVE");
}

class ModuleEntry : public testing::Test
{
protected:
	void SetUp () override { SetEnvironmentVariableA ("QUILL_EXIT_DLL_LIVE", nullptr); }
	void TearDown () override { SetEnvironmentVariableA ("QUILL_INIT_DLL_FAILS", nullptr); }
};

TEST_F (ModuleEntry, BundleModuleUnderItsOwnNameIsEnteredBeforeUseAndLeftLast)
{
	const std::string folder = std::string (QUILL_ENTRY_BUNDLE) + "\\Contents\\x86_64-win\\";
	VST3Loader loader;
	bool ok = false;
	const Output o = capture ([&] { ok = loader.load (QUILL_ENTRY_BUNDLE); });
	ASSERT_TRUE (ok) << o.out << o.err;
	EXPECT_NE (o.out.find ("[VST3Loader] Trying: " + folder + "Quill.vst3\n"), std::string::npos) << o.out;
	EXPECT_NE (o.out.find ("[VST3Loader] Trying: " + folder + kModuleName + "\n"), std::string::npos) << o.out;
	EXPECT_NE (o.out.find ("[VST3Loader] Module file: " + folder + kModuleName + "\n"), std::string::npos) << o.out;
	EXPECT_NE (o.out.find ("[VST3Loader] InitDll called\n"), std::string::npos);
	{
		PluginInstance instance (loader.factory ());
		capture ([&] { EXPECT_TRUE (instance.createInstance ()); });
		EXPECT_NE (instance.controller (), nullptr);
	}
	EXPECT_EQ (exitDllReport (), "") << "ExitDll before the module was let go";
	loader.unload ();
	EXPECT_EQ (exitDllReport (), "0") << "objects of the module alive at ExitDll";
	EXPECT_EQ (GetModuleHandleA (kModuleName), nullptr);
}

TEST_F (ModuleEntry, AModuleWhoseInitDllFailsIsFreedUnused)
{
	SetEnvironmentVariableA ("QUILL_INIT_DLL_FAILS", "1");
	VST3Loader loader;
	bool ok = true;
	const Output o = capture ([&] { ok = loader.load (QUILL_ENTRY_BUNDLE); });
	EXPECT_FALSE (ok);
	EXPECT_NE (o.err.find ("[VST3Loader] InitDll failed: the module refused to initialise\n"), std::string::npos)
	    << o.err;
	EXPECT_EQ (loader.factory (), nullptr);
	EXPECT_EQ (exitDllReport (), "") << "ExitDll of a module that did not initialise";
	EXPECT_EQ (GetModuleHandleA (kModuleName), nullptr);
}

// outpost as it runs: audio set up, the editor open; when it ends, ExitDll
// finds nothing of the module alive.
TEST_F (ModuleEntry, OutpostReleasesEveryObjectOfTheModuleBeforeItsExitDll)
{
	char tempDir[MAX_PATH];
	ASSERT_GT (GetTempPathA (MAX_PATH, tempDir), 0u);
	const std::string path =
	    std::string (tempDir) + "outpost_entry_" + std::to_string (GetCurrentProcessId ()) + ".shm";
	HANDLE file = CreateFileA (path.c_str (), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
	                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
	ASSERT_NE (file, INVALID_HANDLE_VALUE);
	HANDLE mapping = CreateFileMappingA (file, nullptr, PAGE_READWRITE, 0, Tandem::kFileSize, nullptr);
	ASSERT_NE (mapping, nullptr);
	void* view = MapViewOfFile (mapping, FILE_MAP_ALL_ACCESS, 0, 0, Tandem::kFileSize);
	ASSERT_NE (view, nullptr);
	const Tandem::Regions regions = Tandem::regionsAt (view);
	Tandem::SessionData& session = *regions.session;
	Tandem::writeSessionHeader (session);
	session.sampleRate = 48000.0;
	session.maxSamplesPerBlock = 512;
	session.symbolicSampleSize = Steinberg::Vst::kSample32;
	regions.uiCommand->processed = true;

	bool editorOpened = false;
	const Output o = capture ([&] {
		OutpostApplication app (path, QUILL_ENTRY_BUNDLE);
		if (!app.initialize ())
			return;
		regions.uiCommand->command = static_cast<std::int32_t> (Tandem::CommandCode::Activate);
		regions.uiCommand->processed = false;
		OutpostApplicationTestAccess::command (app);
		regions.uiCommand->command = static_cast<std::int32_t> (Tandem::CommandCode::ShowEditor);
		regions.uiCommand->processed = false;
		OutpostApplicationTestAccess::command (app);
		editorOpened = OutpostApplicationTestAccess::hasEditor (app) && regions.uiCommand->wineWindow != 0;
		EXPECT_EQ (exitDllReport (), "");
	});
	UnmapViewOfFile (view);
	CloseHandle (mapping);
	CloseHandle (file);
	DeleteFileA (path.c_str ());
	EXPECT_NE (o.out.find ("[Outpost] Initialized successfully\n"), std::string::npos) << o.out << o.err;
	EXPECT_NE (o.out.find ("[PluginInstance] Component activated\n"), std::string::npos);
	EXPECT_TRUE (editorOpened) << o.out << o.err;
	EXPECT_EQ (exitDllReport (), "0") << "objects of the module alive at ExitDll";
}

} // namespace
