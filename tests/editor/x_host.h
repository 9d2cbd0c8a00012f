// Host-side X11 helpers of the editor tests, usable with the stand-in and
// with the real outpost under Wine: the test's own X11 client with a
// top-level "host" window, child processes, and a tap on the process's
// standard output and error that can be read while other threads (and
// programs started meanwhile) are still writing.
#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

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
		// with the log around them (always with QM_TEST_SHOW_OUTPUT set).
		if (testing::Test::HasFailure () || std::getenv ("QM_TEST_SHOW_OUTPUT"))
			std::cout << "---- output while tapped ----\n"
			          << out () << "---- errors while tapped ----\n"
			          << err () << "----" << std::endl;
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
		bool operator== (const Rect& o) const { return x == o.x && y == o.y && width == o.width && height == o.height; }
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
	// The pointer's place on the screen and the innermost window under it.
	struct Pointer
	{
		int x = -1, y = -1;
		xcb_window_t under = XCB_NONE;
	};
	Pointer pointer ()
	{
		Pointer p;
		for (xcb_window_t w = screen->root; w != XCB_NONE;)
		{
			auto* r = xcb_query_pointer_reply (c, xcb_query_pointer (c, w), nullptr);
			if (!r)
				break;
			if (w == screen->root)
				p.x = r->root_x, p.y = r->root_y;
			p.under = w;
			w = r->child;
			free (r);
		}
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
	// What the server shows of window w, children included, as 0xRRGGBB
	// pixels (a screenshot); empty when the window cannot be read.
	struct Image
	{
		int width = 0, height = 0;
		std::vector<uint32_t> pixels;
		uint32_t at (int x, int y) const { return pixels[static_cast<size_t> (y) * width + x]; }
		bool empty () const { return pixels.empty (); }
	};
	Image capture (xcb_window_t w)
	{
		Image image;
		const Rect g = geometry (w);
		if (g.width <= 0)
			return image;
		auto* r =
		    xcb_get_image_reply (c,
		                         xcb_get_image (c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, 0, static_cast<uint16_t> (g.width),
		                                        static_cast<uint16_t> (g.height), ~0u),
		                         nullptr);
		if (r && xcb_get_image_data_length (r) >= g.width * g.height * 4)
		{
			image.width = g.width;
			image.height = g.height;
			image.pixels.resize (static_cast<size_t> (g.width) * g.height);
			std::memcpy (image.pixels.data (), xcb_get_image_data (r), image.pixels.size () * 4);
			for (uint32_t& p : image.pixels)
				p &= 0xffffff;
		}
		free (r);
		return image;
	}
	std::vector<xcb_window_t> children (xcb_window_t w)
	{
		std::vector<xcb_window_t> list;
		if (auto* r = xcb_query_tree_reply (c, xcb_query_tree (c, w), nullptr))
		{
			const xcb_window_t* kids = xcb_query_tree_children (r);
			list.assign (kids, kids + xcb_query_tree_children_length (r));
			free (r);
		}
		return list;
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

// Starts openbox on `display`; its pid once it manages the screen, else -1
// (stopped). It takes WM_S0 early in its start-up and serves map requests
// only at its end: a window mapped in between may stay unmapped for good.
// So it is ready when a window mapped afterwards is framed and viewable.
inline pid_t startOpenbox (const std::string& display)
{
	pid_t pid = spawn ({OPENBOX_PATH, "--sm-disable"}, display);
	HostDisplay d (display);
	const xcb_atom_t wmS0 = d.atom ("WM_S0");
	const bool owned = d.ok () && waitFor (
	                                  [&] {
		                                  auto* owner = xcb_get_selection_owner_reply (
		                                      d.c, xcb_get_selection_owner (d.c, wmS0), nullptr);
		                                  const bool taken = owner && owner->owner != XCB_NONE;
		                                  free (owner);
		                                  return taken;
	                                  },
	                                  10000);
	const xcb_window_t probe = owned ? d.createHostWindow (0, 0, 10, 10) : 0;
	const bool framed = probe && waitFor ([&] { return d.parentOf (probe) != d.screen->root; }, 10000);
	if (probe)
	{
		xcb_destroy_window (d.c, probe);
		xcb_flush (d.c);
	}
	if (!framed)
		stopChild (pid);
	return pid;
}

// The window tree host > wrapper > Wine's window, both viewable, Wine's
// window at the wrapper's origin with the given size and marked normal.
inline void expectEmbeddedTree (HostDisplay& host, xcb_window_t hostWindow, xcb_window_t wrapper, xcb_window_t wine,
                                int width, int height)
{
	EXPECT_EQ (host.parentOf (wrapper), hostWindow);
	EXPECT_EQ (host.parentOf (wine), wrapper);
	EXPECT_EQ (host.mapState (wrapper), XCB_MAP_STATE_VIEWABLE);
	EXPECT_EQ (host.mapState (wine), XCB_MAP_STATE_VIEWABLE);
	EXPECT_EQ (host.wmState (wine), (std::vector<uint32_t> {1, 0}));
	EXPECT_EQ (host.geometry (wine), (HostDisplay::Rect {0, 0, width, height}));
}

// What `removed` must leave, its output being `out`: the event thread's stop
// as its last line, the wrapper gone, and the Wine window back at the root,
// where it stays unmapped (no window manager adopts it).
inline void expectHandedBack (HostDisplay& host, const std::string& out, xcb_window_t wine, xcb_window_t wrapper)
{
	const size_t stopped = out.rfind ("[QuillMarlowView] WM event thread stopped\n");
	ASSERT_NE (stopped, std::string::npos);
	EXPECT_EQ (out.find ("[QuillMarlowView] WM event thread", stopped + 1), std::string::npos)
	    << "the thread's last line";
	EXPECT_EQ (host.parentOf (wine), host.screen->root);
	EXPECT_FALSE (host.exists (wrapper));
	std::this_thread::sleep_for (std::chrono::milliseconds (300));
	EXPECT_EQ (host.parentOf (wine), host.screen->root);
	EXPECT_EQ (host.mapState (wine), XCB_MAP_STATE_UNMAPPED);
}

// Runs xdotool against the display; true when it succeeded.
inline bool xdotool (const std::string& display, const std::string& args)
{
	const std::string command = "DISPLAY=" + display + " " XDOTOOL_PATH " " + args + " >/dev/null 2>&1";
	return std::system (command.c_str ()) == 0;
}

} // namespace QuillMarlowTest
