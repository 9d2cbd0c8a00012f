// Helpers of the editor tests: a private Xvfb display (optionally managed by
// openbox), a host-side X11 connection with a top-level "host" window, and a
// tap on the process's standard output and error that can be read while the
// view's thread is still writing.
#pragma once

#include "plugin/test_support.h"

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

// Polls `condition` every 10 ms for up to `ms` milliseconds.
inline bool waitFor (const std::function<bool ()>& condition, int ms = 5000)
{
	for (int waited = 0; waited <= ms; waited += 10)
	{
		if (condition ())
			return true;
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	}
	return condition ();
}

inline pid_t spawn (const std::vector<std::string>& argv, const std::string& display)
{
	const pid_t pid = ::fork ();
	if (pid == 0)
	{
		const int devnull = ::open ("/dev/null", O_RDWR);
		::dup2 (devnull, 1);
		::dup2 (devnull, 2);
		if (!display.empty ())
			::setenv ("DISPLAY", display.c_str (), 1);
		std::vector<char*> args;
		for (const auto& a : argv)
			args.push_back (const_cast<char*> (a.c_str ()));
		args.push_back (nullptr);
		::execvp (args[0], args.data ());
		::_exit (127);
	}
	return pid;
}

inline void stopChild (pid_t& pid)
{
	if (pid <= 0)
		return;
	::kill (pid, SIGTERM);
	for (int i = 0; i < 300; ++i)
	{
		if (::waitpid (pid, nullptr, WNOHANG) == pid)
		{
			pid = -1;
			return;
		}
		std::this_thread::sleep_for (std::chrono::milliseconds (10));
	}
	::kill (pid, SIGKILL);
	::waitpid (pid, nullptr, 0);
	pid = -1;
}

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
				xvfb_ = spawn ({XVFB_PATH, name, "-nolock", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
				                "-noreset"},
				               "");
			if (written && serverAnswers (name))
				name_ = name;
			else
				release ();
		}
		if (name_.empty ())
			return false;
		if (withWindowManager)
		{
			wm_ = spawn ({OPENBOX_PATH, "--sm-disable"}, name_);
			if (!windowManagerRunning ())
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

	// openbox owns the selection WM_S0 once it manages the screen.
	bool windowManagerRunning ()
	{
		xcb_connection_t* c = xcb_connect (name_.c_str (), nullptr);
		auto* atom = xcb_intern_atom_reply (c, xcb_intern_atom (c, 0, 5, "WM_S0"), nullptr);
		const xcb_atom_t wmS0 = atom ? atom->atom : 0;
		free (atom);
		const bool ok = waitFor (
		    [&] {
			    auto* owner = xcb_get_selection_owner_reply (c, xcb_get_selection_owner (c, wmS0), nullptr);
			    const bool owned = owner && owner->owner != XCB_NONE;
			    free (owner);
			    return owned;
		    },
		    10000);
		xcb_disconnect (c);
		return ok;
	}

	std::string name_;
	std::string lock_;
	pid_t xvfb_ = -1;
	pid_t wm_ = -1;
};

// Redirects fd 1 and 2 into files that can be read at any time.
class OutputTap
{
public:
	OutputTap ()
	{
		char outName[] = "/tmp/qm-view-out-XXXXXX";
		char errName[] = "/tmp/qm-view-err-XXXXXX";
		std::cout.flush ();
		std::cerr.flush ();
		std::fflush (nullptr);
		const int out = ::mkstemp (outName), err = ::mkstemp (errName);
		outPath_ = outName;
		errPath_ = errName;
		savedOut_ = ::dup (1);
		savedErr_ = ::dup (2);
		::dup2 (out, 1);
		::dup2 (err, 2);
		::close (out);
		::close (err);
	}
	~OutputTap ()
	{
		restore ();
		::unlink (outPath_.c_str ());
		::unlink (errPath_.c_str ());
	}
	void restore ()
	{
		if (savedOut_ < 0)
			return;
		std::cout.flush ();
		std::cerr.flush ();
		::dup2 (savedOut_, 1);
		::dup2 (savedErr_, 2);
		::close (savedOut_);
		::close (savedErr_);
		savedOut_ = savedErr_ = -1;
		// Failure messages written while tapped are in the files: show them,
		// with the log around them.
		if (testing::Test::HasFailure ())
			std::cout << "---- output while tapped ----\n" << out () << "---- errors while tapped ----\n" << err ()
			          << "----" << std::endl;
	}
	std::string out () const { return read (outPath_); }
	std::string err () const { return read (errPath_); }
	bool waitForOut (const std::string& text, int ms = 5000) const
	{
		return waitFor ([&] { return out ().find (text) != std::string::npos; }, ms);
	}

private:
	static std::string read (const std::string& path)
	{
		std::cout.flush ();
		std::cerr.flush ();
		std::ifstream f (path);
		std::stringstream s;
		s << f.rdbuf ();
		return s.str ();
	}
	std::string outPath_, errPath_;
	int savedOut_ = -1, savedErr_ = -1;
};

inline size_t countOf (const std::string& haystack, const std::string& needle)
{
	size_t n = 0;
	for (size_t at = haystack.find (needle); at != std::string::npos; at = haystack.find (needle, at + 1))
		++n;
	return n;
}

inline std::string hex (uint32_t id)
{
	std::ostringstream s;
	s << "0x" << std::hex << id;
	return s.str ();
}

inline std::string readFile (const std::string& path)
{
	std::ifstream f (path);
	std::stringstream s;
	s << f.rdbuf ();
	return s.str ();
}

// The test's own X11 client, playing the audio host's part.
class HostDisplay
{
public:
	explicit HostDisplay (const std::string& name) : c (xcb_connect (name.c_str (), nullptr))
	{
		if (!xcb_connection_has_error (c))
			screen = xcb_setup_roots_iterator (xcb_get_setup (c)).data;
	}
	~HostDisplay () { xcb_disconnect (c); }
	bool ok () const { return screen != nullptr; }

	// A white top-level window, viewable when this returns; none on failure.
	xcb_window_t createHostWindow (int16_t x, int16_t y, uint16_t width, uint16_t height)
	{
		const xcb_window_t w = xcb_generate_id (c);
		const uint32_t values[] = {0xffffff};
		xcb_create_window (c, XCB_COPY_FROM_PARENT, w, screen->root, x, y, width, height, 0,
		                   XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, values);
		static const char kTitle[] = "Test host";
		xcb_change_property (c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, sizeof (kTitle) - 1,
		                     kTitle);
		// A window manager maps it. openbox, just started, sometimes drops
		// the map request of a window mapped while it sets up: ask again.
		for (int attempt = 0; attempt < 10; ++attempt)
		{
			xcb_map_window (c, w);
			xcb_flush (c);
			if (waitFor ([&] { return mapState (w) == XCB_MAP_STATE_VIEWABLE; }, 2000))
				return w;
		}
		return XCB_NONE;
	}

	xcb_window_t parentOf (xcb_window_t w)
	{
		auto* r = xcb_query_tree_reply (c, xcb_query_tree (c, w), nullptr);
		const xcb_window_t p = r ? r->parent : XCB_NONE;
		free (r);
		return p;
	}
	int mapState (xcb_window_t w)
	{
		auto* r = xcb_get_window_attributes_reply (c, xcb_get_window_attributes (c, w), nullptr);
		const int s = r ? r->map_state : -1;
		free (r);
		return s;
	}
	bool exists (xcb_window_t w)
	{
		auto* r = xcb_get_geometry_reply (c, xcb_get_geometry (c, w), nullptr);
		free (r);
		return r != nullptr;
	}
	struct Rect
	{
		int x, y, width, height;
		bool operator== (const Rect& o) const
		{
			return x == o.x && y == o.y && width == o.width && height == o.height;
		}
	};
	Rect geometry (xcb_window_t w)
	{
		auto* r = xcb_get_geometry_reply (c, xcb_get_geometry (c, w), nullptr);
		Rect g {-1, -1, -1, -1};
		if (r)
			g = {r->x, r->y, r->width, r->height};
		free (r);
		return g;
	}
	std::pair<int, int> rootPosition (xcb_window_t w)
	{
		auto* r = xcb_translate_coordinates_reply (c, xcb_translate_coordinates (c, w, screen->root, 0, 0), nullptr);
		std::pair<int, int> p {-100000, -100000};
		if (r)
			p = {r->dst_x, r->dst_y};
		free (r);
		return p;
	}
	xcb_window_t focus ()
	{
		auto* r = xcb_get_input_focus_reply (c, xcb_get_input_focus (c), nullptr);
		const xcb_window_t f = r ? r->focus : XCB_NONE;
		free (r);
		return f;
	}
	xcb_atom_t atom (const char* name)
	{
		auto* r = xcb_intern_atom_reply (c, xcb_intern_atom (c, 0, static_cast<uint16_t> (std::strlen (name)), name),
		                                 nullptr);
		const xcb_atom_t a = r ? r->atom : XCB_NONE;
		free (r);
		return a;
	}
	// WM_STATE as two 32-bit values, empty when the property is not set.
	std::vector<uint32_t> wmState (xcb_window_t w)
	{
		const xcb_atom_t a = atom ("WM_STATE");
		auto* r = xcb_get_property_reply (c, xcb_get_property (c, 0, w, a, a, 0, 2), nullptr);
		std::vector<uint32_t> v;
		if (r && r->type != XCB_NONE && r->format == 32)
		{
			const auto* p = static_cast<const uint32_t*> (xcb_get_property_value (r));
			v.assign (p, p + xcb_get_property_value_length (r) / 4);
		}
		free (r);
		return v;
	}
	// The pixel at (x, y) of window w as 0xRRGGBB (24-bit TrueColor screen).
	uint32_t pixel (xcb_window_t w, int16_t x, int16_t y)
	{
		auto* r = xcb_get_image_reply (c, xcb_get_image (c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, x, y, 1, 1, ~0u), nullptr);
		uint32_t v = 0xdeadbeef;
		if (r && xcb_get_image_data_length (r) >= 4)
			std::memcpy (&v, xcb_get_image_data (r), 4);
		free (r);
		return v == 0xdeadbeef ? v : (v & 0xffffff);
	}
	void move (xcb_window_t w, int32_t x, int32_t y)
	{
		const uint32_t values[] = {static_cast<uint32_t> (x), static_cast<uint32_t> (y)};
		xcb_configure_window (c, w, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
		xcb_flush (c);
	}

	xcb_connection_t* c;
	xcb_screen_t* screen = nullptr;
};

// Runs xdotool against the display; true when it succeeded.
inline bool xdotool (const std::string& display, const std::string& args)
{
	const std::string command = "DISPLAY=" + display + " " XDOTOOL_PATH " " + args + " >/dev/null 2>&1";
	return std::system (command.c_str ()) == 0;
}

} // namespace QuillMarlowTest
