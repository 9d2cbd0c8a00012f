// outpost's start on Linux's own calls: the shared file the Linux plug-in
// made is opened and mapped whole and shared, refused when missing or short,
// and let go when the application ends. The native build has no Windows
// module to load, so initialize stops after the mapping, as it does when the
// served plug-in is missing.
#include "application_access.h"
#include "test_output.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace Tandem {

namespace {

int openDescriptors ()
{
	int n = 0;
	if (DIR* dir = ::opendir ("/proc/self/fd"))
	{
		while (::readdir (dir))
			++n;
		::closedir (dir);
	}
	return n;
}

int mappingsOf (const std::string& path)
{
	std::ifstream maps ("/proc/self/maps");
	int n = 0;
	// A mapping locked in part shows as several ranges: counted once, by
	// the range at the file's start.
	for (std::string line; std::getline (maps, line);)
		if (line.find (path) != std::string::npos && line.find (" 00000000 ") != std::string::npos)
			++n;
	return n;
}

TEST (OutpostStart, AMissingOrShortFileIsRefusedAndNothingIsKept)
{
	const int before = openDescriptors ();
	{
		const std::string missing = testing::TempDir () + "outpost_app_missing";
		OutpostApplication app (missing, "C:\\Quill.vst3");
		Captured c = captureOutput ([&] { EXPECT_FALSE (app.initialize ()); });
		EXPECT_TRUE (c.hasErr ("[Outpost] Failed to open file: " + missing));
		EXPECT_TRUE (c.hasErr ("[Outpost] Failed to open shared memory"));
		EXPECT_FALSE (c.hasOut ("[Outpost] Memory-mapped file opened successfully"));
	}
	{
		// One byte short: a region past the end would fault when touched.
		SharedFile file (static_cast<off_t> (kSharedMemorySize) - 1);
		OutpostApplication app (file.path, "C:\\Quill.vst3");
		Captured c = captureOutput ([&] { EXPECT_FALSE (app.initialize ()); });
		EXPECT_TRUE (c.hasErr ("[Outpost] Failed to create file mapping"));
		EXPECT_TRUE (c.hasErr ("[Outpost] Failed to open shared memory"));
		EXPECT_EQ (mappingsOf (file.path), 0);
	}
	EXPECT_EQ (openDescriptors (), before) << "a refused file leaves no descriptor open";
}

TEST (OutpostStart, AFileOfAnotherBuildIsRefusedWithOneClearLine)
{
	const std::string line = "[Outpost] The plug-in and this outpost.exe come from different builds: ";
	{
		// A plug-in from before the session region.
		SharedFile file (kSharedMemorySize);
		OutpostApplication app (file.path, "C:\\Quill.vst3");
		Captured c = captureOutput ([&] { EXPECT_FALSE (app.initialize ()); });
		EXPECT_TRUE (c.hasErr (line + "the shared file has 786512 bytes, this outpost.exe needs " +
		                       std::to_string (kFileSize) +
		                       ". Refusing the file; reinstall QuillMarlow.vst3 as one bundle"))
		    << c.err;
	}
	{
		// A later plug-in: outpost says which version it speaks, for the
		// plug-in to report.
		SharedFile file (kFileSize);
		file.session ().version = kSessionVersion + 1;
		OutpostApplication app (file.path, "C:\\Quill.vst3");
		Captured c = captureOutput ([&] { EXPECT_FALSE (app.initialize ()); });
		EXPECT_TRUE (c.hasErr (line + "the shared file speaks version " + std::to_string (kSessionVersion + 1) +
		                       " (192 bytes), this outpost.exe version " + std::to_string (kSessionVersion) +
		                       " (192 bytes). Refusing the file; reinstall QuillMarlow.vst3 as one bundle"))
		    << c.err;
		EXPECT_FALSE (c.hasOut ("[Outpost] Loading VST3 plugin"));
		EXPECT_EQ (file.session ().outpostVersion.load (), kSessionVersion);
	}
}

TEST (OutpostStart, TheFileIsSharedWithTheLinuxSideAndLetGoAtTheEnd)
{
	SharedFile file (kFileSize);
	ASSERT_NE (file.base, MAP_FAILED);
	const int before = openDescriptors ();
	{
		OutpostApplication app (file.path, "C:\\Missing\\Quill.vst3");
		Captured c = captureOutput ([&] { EXPECT_FALSE (app.initialize ()); });
		EXPECT_TRUE (c.hasOut ("[Outpost] Memory-mapped file opened successfully"));
		EXPECT_TRUE (c.hasOut ("[Outpost] Loading VST3 plugin: C:\\Missing\\Quill.vst3"));
		EXPECT_TRUE (c.hasErr ("[Outpost] Failed to load VST3 plugin"));
		EXPECT_FALSE (c.hasOut ("[Outpost] Audio thread launched")) << "no plug-in, no audio thread";
		EXPECT_EQ (mappingsOf (file.path), 2) << "ours and outpost's";

		// A command posted on our side reaches outpost's view, and its reply
		// comes back at the offsets the Linux side reads.
		const Regions ours = file.regions ();
		ours.stateData->stateSize = 1234;
		ours.stateData->stateReady.store (false);
		ours.uiCommand->command = static_cast<std::int32_t> (CommandCode::GetState);
		ours.uiCommand->processed.store (false);
		captureOutput ([&] { OutpostApplicationTestAccess::command (app); });
		EXPECT_TRUE (ours.uiCommand->processed.load ());
		EXPECT_TRUE (ours.stateData->stateReady.load ());
		EXPECT_EQ (ours.stateData->stateSize, 0) << "no instance, no state";
	}
	EXPECT_EQ (mappingsOf (file.path), 1) << "the view is unmapped when the application ends";
	EXPECT_EQ (openDescriptors (), before) << "and its descriptor closed";
}

} // namespace
} // namespace Tandem
