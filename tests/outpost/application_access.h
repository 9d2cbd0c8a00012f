// Native tests of outpost's application drive its handlers on a shared
// file of their own, standing in for the Linux plug-in's side, and on a
// served plug-in instance of their own.
#pragma once

#include "application.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace Tandem {

struct OutpostApplicationTestAccess
{
	static void command (OutpostApplication& app) { app.processUICommand (); }
	// The served plug-in, in place of the one the application did not load.
	static void serve (OutpostApplication& app, std::unique_ptr<PluginInstance> plugin)
	{
		app.instances_.front ()->instance_.plugin = std::move (plugin);
	}
	// What each turn of the main loop does for latency and tail.
	static void publishLatency (OutpostApplication& app) { app.instances_.front ()->latency_.publish (false); }
};

// A file of the given size in the test's temporary folder, and our own
// mapping of it, standing in for the Linux plug-in's side.
struct SharedFile
{
	explicit SharedFile (off_t size)
	{
		path = testing::TempDir () + "outpost_app_" + std::to_string (::getpid ()) + "_" + std::to_string (size);
		fd = ::open (path.c_str (), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
		EXPECT_GE (fd, 0);
		EXPECT_EQ (::ftruncate (fd, size), 0);
		if (size >= static_cast<off_t> (kFileSize))
		{
			base = ::mmap (nullptr, kFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
			writeSessionHeader (*sessionAt (base));
		}
	}
	~SharedFile ()
	{
		if (base && base != MAP_FAILED)
			::munmap (base, kFileSize);
		::close (fd);
		::unlink (path.c_str ());
	}
	Regions regions () const { return regionsAt (base); }
	SessionData& session () const { return *sessionAt (base); }
	std::string path;
	int fd = -1;
	void* base = nullptr;
};

} // namespace Tandem
