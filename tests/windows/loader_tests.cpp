// VST3Loader against real modules under Wine: the served plug-in by module
// path, by bundle folder (as the Linux side passes it) and the failure paths.
#include <gtest/gtest.h>

#include "captured_output.h"

#include <string>

#include "vst3_loader.h"

using Tandem::VST3Loader;

namespace {

// The path the Linux side passes: a bundle folder, with doubled separators.
const char kInstalledBundle[] = "C:\\\\Program Files\\\\Common Files\\\\VST3\\\\Quill.vst3";
const char kModuleInBundle[] = "\\Contents\\x86_64-win\\Quill.vst3";

int countOf (const std::string& text, const std::string& needle)
{
	int n = 0;
	for (std::size_t at = text.find (needle); at != std::string::npos; at = text.find (needle, at + 1))
		++n;
	return n;
}

bool moduleIsLoaded (const std::string& path)
{
	return GetModuleHandleA (path.c_str ()) != nullptr;
}

} // namespace

TEST (VST3LoaderPaths, ModuleFileLoadsOnFirstAttempt)
{
	const std::string path = std::string (QUILL_BUNDLE) + "/Contents/x86_64-win/Quill.vst3";
	VST3Loader loader;
	bool ok = false;
	const Output o = capture ([&] { ok = loader.load (path); });
	ASSERT_TRUE (ok) << o.err;
	EXPECT_NE (loader.factory (), nullptr);
	EXPECT_EQ (countOf (o.out, "[VST3Loader] Trying: "), 0);
	EXPECT_NE (o.out.find ("[VST3Loader] Loading plugin: " + path + "\n"), std::string::npos);
	EXPECT_NE (o.out.find ("[VST3Loader] Module loaded successfully\n"), std::string::npos);
	EXPECT_NE (o.out.find ("[VST3Loader] Plugin factory obtained successfully\n"), std::string::npos);
	EXPECT_EQ (loader.getPluginName (), "VST3 Plugin");
}

TEST (VST3LoaderPaths, BundleFolderLoadsWithOneTry)
{
	VST3Loader loader;
	bool ok = false;
	const Output o = capture ([&] { ok = loader.load (kInstalledBundle); });
	ASSERT_TRUE (ok) << o.out << o.err;
	EXPECT_EQ (countOf (o.out, "[VST3Loader] Trying: "), 1);
	EXPECT_NE (o.out.find (std::string ("[VST3Loader] Trying: ") + kInstalledBundle + kModuleInBundle + "\n"),
	           std::string::npos);
	ASSERT_NE (loader.factory (), nullptr);
	EXPECT_EQ (loader.factory ()->countClasses (), 2);
}

TEST (VST3LoaderPaths, NeitherReportsTheSecondAttemptsError)
{
	// A file that exists but is no module: the first attempt fails for
	// another reason than the bundle candidate inside it.
	char tempDir[MAX_PATH];
	ASSERT_GT (GetTempPathA (MAX_PATH, tempDir), 0u);
	const std::string path = std::string (tempDir) + "outpost_loader_not_a_module.txt";
	HANDLE file = CreateFileA (path.c_str (), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
	ASSERT_NE (file, INVALID_HANDLE_VALUE);
	DWORD written = 0;
	WriteFile (file, "plain text", 10, &written, nullptr);
	CloseHandle (file);

	SetLastError (0);
	EXPECT_EQ (LoadLibraryA (path.c_str ()), nullptr);
	const DWORD firstError = GetLastError ();
	EXPECT_EQ (LoadLibraryA ((path + kModuleInBundle).c_str ()), nullptr);
	const DWORD secondError = GetLastError ();
	ASSERT_NE (firstError, secondError) << "the test needs two distinct codes";

	VST3Loader loader;
	bool ok = true;
	const Output o = capture ([&] { ok = loader.load (path); });
	DeleteFileA (path.c_str ());
	EXPECT_FALSE (ok);
	EXPECT_EQ (loader.factory (), nullptr);
	EXPECT_EQ (countOf (o.out, "[VST3Loader] Trying: "), 1);
	EXPECT_NE (o.err.find ("[VST3Loader] Failed to load module: " + std::to_string (secondError) + "\n"),
	           std::string::npos)
	    << o.err;
}

TEST (VST3LoaderModules, MissingExportFreesTheModule)
{
	VST3Loader loader;
	bool ok = true;
	const Output o = capture ([&] { ok = loader.load (MODULE_WITHOUT_FACTORY); });
	EXPECT_FALSE (ok);
	EXPECT_NE (o.out.find ("[VST3Loader] Module loaded successfully\n"), std::string::npos);
	EXPECT_NE (o.err.find ("[VST3Loader] GetPluginFactory not found\n"), std::string::npos);
	EXPECT_EQ (loader.factory (), nullptr);
	EXPECT_FALSE (moduleIsLoaded (MODULE_WITHOUT_FACTORY));
}

TEST (VST3LoaderModules, NullFactoryFreesTheModule)
{
	VST3Loader loader;
	bool ok = true;
	const Output o = capture ([&] { ok = loader.load (MODULE_NULL_FACTORY); });
	EXPECT_FALSE (ok);
	EXPECT_NE (o.err.find ("[VST3Loader] GetPluginFactory returned null\n"), std::string::npos);
	EXPECT_EQ (loader.factory (), nullptr);
	EXPECT_FALSE (moduleIsLoaded (MODULE_NULL_FACTORY));
}

TEST (VST3LoaderModules, UnloadFreesOnceAndIsSafeToRepeat)
{
	const std::string path = std::string (QUILL_BUNDLE) + "/Contents/x86_64-win/Quill.vst3";
	VST3Loader loader;
	capture ([&] { ASSERT_TRUE (loader.load (path)); });
	EXPECT_TRUE (moduleIsLoaded (path));
	loader.unload ();
	EXPECT_EQ (loader.factory (), nullptr);
	EXPECT_FALSE (moduleIsLoaded (path));
	loader.unload ();
	VST3Loader fresh;
	fresh.unload ();
	EXPECT_EQ (fresh.factory (), nullptr);
}
