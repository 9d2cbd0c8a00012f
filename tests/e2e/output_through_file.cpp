// Set-up of the end-to-end test program before any test runs.
//
// Wine runs in the test prefix, on the display that the prefix fixture
// started, quietly.
//
// Wine's helper processes (services, the desktop) inherit the descriptors of
// the program that started Wine and may outlive it; started from a test,
// they would hold CTest's output pipe open and CTest would wait for them.
// So this test program writes its output (and that of the outpost it starts)
// to a file, and copies the file to the real output when it ends.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct OutputThroughFile
{
	OutputThroughFile ()
	{
		::setenv ("WINEPREFIX", WINE_TEST_PREFIX, 1);
		::setenv ("DISPLAY", WINE_TEST_DISPLAY, 1);
		::setenv ("WINEDEBUG", "-all", 1);
		::setenv ("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);

		char path[] = "/tmp/qm_e2e_output_XXXXXX";
		file_ = ::mkstemp (path);
		if (file_ < 0)
			return;
		::unlink (path);
		realOut_ = ::fcntl (STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
		::fflush (nullptr);
		::dup2 (file_, STDOUT_FILENO);
		::dup2 (file_, STDERR_FILENO);
		std::atexit (&OutputThroughFile::copyBack);
		instance_ = this;
	}

	static void copyBack ()
	{
		OutputThroughFile* self = instance_;
		::fflush (nullptr);
		char buffer[65536];
		::lseek (self->file_, 0, SEEK_SET);
		for (ssize_t n; (n = ::read (self->file_, buffer, sizeof buffer)) > 0;)
			if (::write (self->realOut_, buffer, static_cast<size_t> (n)) != n)
				break;
	}

	int file_ = -1;
	int realOut_ = -1;
	static OutputThroughFile* instance_;
};

OutputThroughFile* OutputThroughFile::instance_ = nullptr;
OutputThroughFile redirect;

} // namespace
