// Helpers of the editor tests against the stand-in: a private Xvfb display
// (optionally managed by openbox), plus the host-side helpers of x_host.h.
#pragma once

#include "plugin/test_support.h"
#include "x_host.h"

#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace QuillMarlowTest {

// An Xvfb of our own. The display number is the first one from :90 upward
// for which neither the socket /tmp/.X11-unix/X<n> nor the lock file
// /tmp/.X<n>-lock exists. The test creates that lock file itself, atomically
// (O_EXCL, holding its own pid as X servers do), and runs Xvfb with -nolock:
// two tests started in parallel can never end up on one server.
class VirtualDisplay
{
public:
	bool start (bool withWindowManager)
	{
		for (int n = 90; n < 190 && name_.empty (); ++n)
		{
			const std::string lock = "/tmp/.X" + std::to_string (n) + "-lock";
			if (fileExists ("/tmp/.X11-unix/X" + std::to_string (n)))
				continue;
			const int fd = ::open (lock.c_str (), O_WRONLY | O_CREAT | O_EXCL, 0444);
			if (fd < 0)
				continue;
			char pid[16];
			const int len = std::snprintf (pid, sizeof pid, "%10d\n", static_cast<int> (::getpid ()));
			const bool written = ::write (fd, pid, static_cast<size_t> (len)) == len;
			::close (fd);
			lock_ = lock;
			const std::string name = ":" + std::to_string (n);
			if (written)
				xvfb_ = spawn (
				    {XVFB_PATH, name, "-nolock", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"}, "");
			if (written && serverAnswers (name))
				name_ = name;
			else
				release ();
		}
		if (name_.empty ())
			return false;
		if (withWindowManager)
		{
			wm_ = startOpenbox (name_);
			if (wm_ < 0)
				return false;
		}
		return true;
	}

	~VirtualDisplay ()
	{
		stopChild (wm_);
		release ();
	}

	const std::string& name () const { return name_; }

private:
	void release ()
	{
		stopChild (xvfb_);
		if (!lock_.empty ())
			::unlink (lock_.c_str ());
		lock_.clear ();
	}

	bool serverAnswers (const std::string& name)
	{
		return waitFor (
		           [&] {
			           if (::waitpid (xvfb_, nullptr, WNOHANG) == xvfb_)
			           {
				           xvfb_ = -1;
				           return true; // exited: the number is not usable
			           }
			           xcb_connection_t* c = xcb_connect (name.c_str (), nullptr);
			           const bool ok = !xcb_connection_has_error (c);
			           xcb_disconnect (c);
			           return ok;
		           },
		           10000) &&
		       xvfb_ > 0;
	}

	std::string name_;
	std::string lock_;
	pid_t xvfb_ = -1;
	pid_t wm_ = -1;
};

} // namespace QuillMarlowTest
