// Editors as a musician sees them: Quill and our test plug-ins whose editors
// draw the way the common toolkits do, each made into a bundle of its own by
// `quillmarlow sync`, opened in a host window on the prefix's display and
// judged by what the X server shows. A failing check leaves its picture under
// the build tree (QM_TEST_PICTURES).
#include "e2e_support.h"
#include "host_frame.h"
#include "hosted_pair.h"
#include "x_host.h"
#include "xembed_host.h"

#include "quill_form_layout.h"

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include <gmock/gmock.h>
#include <png.h>

#include <filesystem>
#include <memory>
#include <set>

namespace e2e {
namespace {

namespace fs = std::filesystem;
using QuillMarlowTest::HostDisplay;
using QuillMarlowTest::HostFrame;
using QuillMarlowTest::OutputTap;
using QuillMarlowTest::xdotool;

const fs::path kEditors = fs::path (WINE_TEST_PREFIX) / "drive_c/Program Files/Common Files/VST3/QMEditors";

fs::path& madeDir ()
{
	static fs::path dir = fs::temp_directory_path () / ("qm_editors_" + std::to_string (::getpid ()));
	return dir;
}

// Distinct colours of the rectangle [x0, x1) x [y0, y1).
size_t colours (const HostDisplay::Image& image, int x0, int y0, int x1, int y1)
{
	std::set<uint32_t> seen;
	for (int y = y0; y < y1 && y < image.height; ++y)
		for (int x = x0; x < x1 && x < image.width; ++x)
			seen.insert (image.at (x, y));
	return seen.size ();
}

size_t changed (const HostDisplay::Image& a, const HostDisplay::Image& b)
{
	if (a.width != b.width || a.height != b.height)
		return a.pixels.size () + b.pixels.size ();
	size_t n = 0;
	for (size_t i = 0; i < a.pixels.size (); ++i)
		n += a.pixels[i] != b.pixels[i];
	return n;
}

// Keeps the picture of a failed check, as the musician would have seen it.
void keep (const HostDisplay::Image& image, const std::string& name)
{
	if (image.empty ())
		return;
	fs::create_directories (QM_TEST_PICTURES);
	std::vector<uint8_t> rgb;
	for (uint32_t p : image.pixels)
		rgb.insert (rgb.end (),
		            {static_cast<uint8_t> (p >> 16), static_cast<uint8_t> (p >> 8), static_cast<uint8_t> (p)});
	png_image png {};
	png.version = PNG_IMAGE_VERSION;
	png.width = static_cast<png_uint_32> (image.width);
	png.height = static_cast<png_uint_32> (image.height);
	png.format = PNG_FORMAT_RGB;
	const std::string path = std::string (QM_TEST_PICTURES) + "/" + name + ".png";
	png_image_write_to_file (&png, path.c_str (), 0, rgb.data (), 0, nullptr);
	std::cout << "picture kept: " << path << "\n";
}

// Our plug-ins installed under their own names beside Quill, and one bundle
// made for each.
class MadeEditors : public ::testing::Test
{
public:
	static void SetUpTestSuite ()
	{
		fs::remove_all (kEditors);
		fs::create_directories (kEditors);
		for (const char* kind : {"VBlank", "Direct2D", "Form", "OpenGL"})
		{
			const std::string name = std::string ("Quill ") + kind + ".vst3";
			fs::copy (fs::path (SERVED_DIR "/editors") / name, kEditors / name, fs::copy_options::recursive);
		}
		const std::string command = "XDG_CACHE_HOME='" + madeDir ().string () + ".cache' " + QUILLMARLOW +
		                            " sync --vst3-dir '" + madeDir ().string () + "' >/dev/null 2>&1";
		ASSERT_EQ (std::system (command.c_str ()), 0);
	}
	static void TearDownTestSuite ()
	{
		fs::remove_all (kEditors);
		fs::remove_all (madeDir ());
		fs::remove_all (madeDir ().string () + ".cache");
	}
};

// A host with one made bundle's plug-in: processor and controller made,
// connected and active, the controller with a recording handler, a host
// window on the prefix's display (with openbox managing it on request) and
// the editor view, not yet attached.
class Session
{
public:
	Session (const std::string& name, bool managed = false)
	: module_ ((madeDir () / (name + ".vst3") / "Contents/x86_64-linux" / (name + ".so")).c_str ())
	{
		if (managed)
		{
			openbox_ = QuillMarlowTest::startOpenbox (WINE_TEST_DISPLAY);
		}
		IPluginFactory* factory = module_.factory ();
		if (!factory || !host.ok ())
			return;
		FUID audio, edit;
		for (int32 i = 0; i < factory->countClasses (); ++i)
		{
			PClassInfo info {};
			factory->getClassInfo (i, &info);
			(std::strcmp (info.category, kVstAudioEffectClass) == 0 ? audio : edit) = FUID::fromTUID (info.cid);
		}
		processor_ = std::make_unique<Processor> (factory, 512, 48000.0, audio);
		if (!processor_->valid () || processor_->activate (true) != kResultOk)
			return;
		factory->createInstance (edit.toTUID (), Vst::IEditController::iid, reinterpret_cast<void**> (&controller));
		if (!controller)
			return;
		controller->initialize (nullptr);
		controller->setComponentHandler (&handler);
		connect (true);
		window = host.createHostWindow (100, 80, 300, 200);
		frame = std::make_unique<HostFrame> (host, window);
		frame->withTimers = true;
		view = controller->createView (Vst::ViewType::kEditor);
	}
	~Session ()
	{
		if (view)
		{
			view->removed ();
			view->release ();
		}
		if (controller)
		{
			connect (false);
			controller->terminate ();
			controller->release ();
		}
		processor_.reset ();
		QuillMarlowTest::stopChild (openbox_);
	}
	bool ready () const { return view != nullptr && window != XCB_NONE; }

	// Sizes the host window from the view, attaches it (as a host that
	// speaks XEmbed strictly, with `xembed`), and waits until the window
	// shows at least 8 colours: true when it drew.
	bool attach (bool xembed = false)
	{
		ViewRect size {};
		view->getSize (&size);
		const uint32_t wh[] = {static_cast<uint32_t> (size.getWidth ()), static_cast<uint32_t> (size.getHeight ())};
		xcb_configure_window (host.c, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, wh);
		xcb_flush (host.c);
		view->setFrame (frame.get ());
		std::unique_ptr<QuillMarlowTest::XEmbedStrictHost> embedder;
		if (xembed)
			embedder = std::make_unique<QuillMarlowTest::XEmbedStrictHost> (WINE_TEST_DISPLAY, window);
		if (view->attached (reinterpret_cast<void*> (static_cast<uintptr_t> (window)), kPlatformTypeX11EmbedWindowID) !=
		    kResultOk)
			return false;
		if (embedder && !embedder->embed ().empty ())
			return false;
		return frame->runUntil ([&] { return drawn (); }, 10000);
	}
	bool drawn ()
	{
		picture = host.capture (window);
		return colours (picture, 0, 0, picture.width, picture.height) >= 8;
	}
	// The editor's point (x, y) on the screen.
	std::string at (int x, int y)
	{
		const auto origin = host.rootPosition (window);
		return std::to_string (origin.first + x) + " " + std::to_string (origin.second + y);
	}
	bool waitForOut (const std::string& text)
	{
		return frame->runUntil ([&] { return tap.out ().find (text) != std::string::npos; }, 5000);
	}
	bool edited (Vst::ParamID id)
	{
		const std::string perform = "perform " + std::to_string (id) + " ";
		return frame->runUntil ([&] {
			return std::any_of (handler.calls.begin (), handler.calls.end (),
			                    [&] (const std::string& call) { return call.rfind (perform, 0) == 0; });
		});
	}

	OutputTap tap; // first: outpost's and the plug-in's lines land here
	HostDisplay host {WINE_TEST_DISPLAY};
	RecordingHandler handler;
	Vst::IEditController* controller = nullptr;
	IPlugView* view = nullptr;
	xcb_window_t window = XCB_NONE;
	std::unique_ptr<HostFrame> frame;
	HostDisplay::Image picture;

private:
	void connect (bool on)
	{
		Vst::IConnectionPoint *a = nullptr, *b = nullptr;
		processor_->component ()->queryInterface (Vst::IConnectionPoint::iid, reinterpret_cast<void**> (&a));
		controller->queryInterface (Vst::IConnectionPoint::iid, reinterpret_cast<void**> (&b));
		if (a && b)
		{
			on ? a->connect (b) : a->disconnect (b);
			on ? b->connect (a) : b->disconnect (a);
		}
		if (a)
			a->release ();
		if (b)
			b->release ();
	}

	pid_t openbox_ = -1;
	BundleModule module_;
	std::unique_ptr<Processor> processor_;
};

// Every editor opens through its made bundle and draws, and a drag across
// its slider (Quill's gain bar) changes what the musician sees.
TEST_F (MadeEditors, EachOpensDrawsAndRepaintsAfterADrag)
{
	std::string figures;
	for (const char* name : {"Quill", "Quill VBlank", "Quill Direct2D", "Quill OpenGL"})
	{
		SCOPED_TRACE (name);
		Session s (name);
		ASSERT_TRUE (s.ready ()) << s.tap.err ();
		const bool drawn = s.attach ();
		if (!drawn)
			keep (s.picture, std::string (name) + " not drawn");
		ASSERT_TRUE (drawn) << colours (s.picture, 0, 0, s.picture.width, s.picture.height) << " colours\n"
		                    << s.tap.out ();
		const HostDisplay::Image before = s.picture;
		const int y = 135; // on Quill's gain bar and on the others' sliders
		ASSERT_TRUE (xdotool (WINE_TEST_DISPLAY, "mousemove " + s.at (40, y) + " mousedown 1 mousemove " +
		                                             s.at (before.width / 2, y) + " mousemove " +
		                                             s.at (before.width - 40, y) + " mouseup 1"));
		const auto dragged = std::chrono::steady_clock::now ();
		EXPECT_TRUE (s.edited (0)) << s.tap.out ();
		const bool repainted = s.frame->runUntil ([&] { return changed (before, s.host.capture (s.window)) > 100; });
		const auto ms =
		    std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now () - dragged)
		        .count ();
		figures += std::string (name) + ": repainted " + std::to_string (ms) + " ms after the drag\n";
		if (!repainted)
			keep (s.host.capture (s.window), std::string (name) + " not repainted");
		EXPECT_TRUE (repainted);
	}
	// Figures, not bounds (a loaded machine takes longer), printed once the
	// output is no longer tapped.
	std::cout << figures;
}

// An OpenGL editor's frames reach the host's window upright, and after the
// host resizes it the picture fills the new size to its far corners.
TEST_F (MadeEditors, AnOpenGLEditorIsUprightAndFollowsAResize)
{
	Session s ("Quill OpenGL");
	ASSERT_TRUE (s.ready ()) << s.tap.err ();
	ASSERT_TRUE (s.attach ()) << s.tap.out ();
	// Its corners: the last of the top bands and the bottom band (Quill's
	// OpenGL editor).
	const uint32_t lastTopBand = 0xE63C78, bottomBand = 0xC71585;
	const auto bandAtBottom = [&] (int width, int height) {
		s.picture = s.host.capture (s.window);
		return s.picture.width == width && s.picture.height == height && s.picture.at (width - 5, 5) == lastTopBand &&
		       s.picture.at (width - 5, height - 5) == bottomBand;
	};
	ViewRect size {};
	s.view->getSize (&size);
	const bool upright = s.frame->runUntil ([&] { return bandAtBottom (size.getWidth (), size.getHeight ()); });
	if (!upright)
		keep (s.picture, "opengl upright");
	EXPECT_TRUE (upright);

	ViewRect bigger {0, 0, 640, 400};
	ASSERT_EQ (s.view->checkSizeConstraint (&bigger), kResultOk);
	const uint32_t wh[] = {640, 400};
	xcb_configure_window (s.host.c, s.window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, wh);
	xcb_flush (s.host.c);
	ASSERT_EQ (s.view->onSize (&bigger), kResultOk);
	const bool followed = s.frame->runUntil ([&] { return bandAtBottom (640, 400); });
	if (!followed)
		keep (s.picture, "opengl resized");
	EXPECT_TRUE (followed);
}

enum class Host
{
	Plain,
	Openbox,
	XEmbed
};

class FormEditor : public MadeEditors, public ::testing::WithParamInterface<Host>
{};

// A click into the text field, a typed value and Return: the host hears the
// edit, in a host that hands over a plain window (with a window manager and
// without) and in one that speaks XEmbed.
TEST_P (FormEditor, ATypedValueReachesTheHost)
{
	Session s ("Quill Form", GetParam () == Host::Openbox);
	ASSERT_TRUE (s.ready ());
	ASSERT_TRUE (s.attach (GetParam () == Host::XEmbed)) << s.tap.out ();
	const Quill::FormBox field = Quill::kFormTextField;
	ASSERT_TRUE (xdotool (WINE_TEST_DISPLAY, "mousemove " + s.at (field.left + 20, field.top + 10) + " click 1"));
	ASSERT_TRUE (xdotool (WINE_TEST_DISPLAY, "type --delay 30 -- -12"));
	ASSERT_TRUE (xdotool (WINE_TEST_DISPLAY, "key Return"));
	EXPECT_TRUE (s.waitForOut ("[Quill] Typed gain -12.0 dB\n")) << s.tap.out ();
	EXPECT_TRUE (s.edited (0)); // -12 dB of -24..+12
	EXPECT_THAT (s.handler.calls, ::testing::Contains (::testing::StartsWith ("perform 0 0.333")));
	// A key the host offers the view stays the host's (a shortcut).
	EXPECT_EQ (s.view->onKeyDown (' ', 0, 0), kResultFalse);
}

INSTANTIATE_TEST_SUITE_P (, FormEditor, ::testing::Values (Host::Plain, Host::Openbox, Host::XEmbed),
                          [] (const auto& info) {
	                          return std::string (info.param == Host::Plain     ? "NoWindowManager"
	                                              : info.param == Host::Openbox ? "Openbox"
	                                                                            : "XEmbed");
                          });

// After the host moved its window, the combo box's menu opens right under
// the box on the screen, and Escape closes it; a click on an item picks it.
TEST_F (MadeEditors, AMenuOpensUnderItsControlAfterTheHostWindowMoved)
{
	Session s ("Quill Form");
	ASSERT_TRUE (s.ready ());
	ASSERT_TRUE (s.attach ()) << s.tap.out ();
	const auto origin = s.host.rootPosition (s.window);
	s.host.move (s.window, origin.first + 200, origin.second + 120);
	ASSERT_TRUE (s.frame->runUntil ([&] { return s.host.rootPosition (s.window).first == origin.first + 200; }));
	std::this_thread::sleep_for (std::chrono::milliseconds (200)); // the view tells Wine where it is now
	const Quill::FormBox combo = Quill::kFormCombo;
	const int menuX = origin.first + 200 + combo.left, menuY = origin.second + 120 + combo.bottom;
	for (const char* close : {"key Escape", "item"})
	{
		SCOPED_TRACE (close);
		const size_t from = s.tap.out ().size ();
		ASSERT_TRUE (xdotool (WINE_TEST_DISPLAY, "mousemove " + s.at (combo.left + 30, combo.top + 10) + " click 1"));
		ASSERT_TRUE (s.waitForOut ("[Quill] Menu opened at ")) << s.tap.out ().substr (from);
		// Where the musician sees it: the menu's items at the box's bottom left.
		const auto root = s.host.screen->root;
		const bool shown = s.frame->runUntil ([&] {
			return s.host.pixel (root, static_cast<int16_t> (menuX + 120), static_cast<int16_t> (menuY + 4)) ==
			           Quill::kFormMenuColour &&
			       s.host.pixel (root, static_cast<int16_t> (menuX + 2), static_cast<int16_t> (menuY + 4)) ==
			           Quill::kFormMenuColour;
		});
		if (!shown)
			keep (s.host.capture (root), "menu not under its box");
		EXPECT_TRUE (shown) << s.tap.out ().substr (from);
		if (std::string (close) == "item")
		{
			// The last item: "Bright".
			ASSERT_TRUE (xdotool (WINE_TEST_DISPLAY, "mousemove " + std::to_string (menuX + 30) + " " +
			                                             std::to_string (menuY + Quill::kFormMenuItemHeight * 2 + 8) +
			                                             " click 1"));
			EXPECT_TRUE (s.waitForOut ("[Quill] Menu closed: item\n")) << s.tap.out ().substr (from);
			EXPECT_TRUE (s.edited (1));
		}
		else
		{
			ASSERT_TRUE (xdotool (WINE_TEST_DISPLAY, close));
			EXPECT_TRUE (s.waitForOut ("[Quill] Menu closed: escape\n")) << s.tap.out ().substr (from);
		}
	}
}

// A host's content scale of 2 reaches the editor, which then takes twice
// its size and draws all of it; one that cannot be resized keeps its size
// whatever the host asks.
TEST_F (MadeEditors, AScaleOfTwoDoublesTheEditorAndItsSizeIsItsOwn)
{
	Session s ("Quill Form");
	ASSERT_TRUE (s.ready ());
	IPlugViewContentScaleSupport* scaling = nullptr;
	ASSERT_EQ (s.view->queryInterface (IPlugViewContentScaleSupport::iid, reinterpret_cast<void**> (&scaling)),
	           kResultOk);
	EXPECT_EQ (scaling->setContentScaleFactor (2.0f), kResultOk);
	scaling->release ();
	ViewRect size {};
	s.view->getSize (&size);
	EXPECT_EQ (size.getWidth (), 2 * Quill::kFormWidth);
	EXPECT_EQ (size.getHeight (), 2 * Quill::kFormHeight);
	ASSERT_TRUE (s.attach ()) << s.tap.out ();
	// The colour strip along the bottom reaches the scaled editor's corner.
	const bool whole = s.frame->runUntil ([&] {
		s.picture = s.host.capture (s.window);
		return s.picture.width == 2 * Quill::kFormWidth &&
		       colours (s.picture, s.picture.width / 2, s.picture.height - 60, s.picture.width, s.picture.height) >= 8;
	});
	if (!whole)
		keep (s.picture, "form at scale 2");
	EXPECT_TRUE (whole);

	EXPECT_EQ (s.view->canResize (), kResultFalse);
	ViewRect wanted {0, 0, 900, 500};
	EXPECT_EQ (s.view->checkSizeConstraint (&wanted), kResultOk);
	EXPECT_EQ (wanted.getWidth (), 2 * Quill::kFormWidth);
	ViewRect asked {0, 0, 900, 500};
	EXPECT_NE (s.view->onSize (&asked), kResultOk);
	s.view->getSize (&size);
	EXPECT_EQ (size.getWidth (), 2 * Quill::kFormWidth);
	EXPECT_EQ (size.getHeight (), 2 * Quill::kFormHeight);
}

} // namespace
} // namespace e2e
