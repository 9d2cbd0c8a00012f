// `vst3host editor`: the effect's editor embedded in an X11 window of the
// host, shown for a while and optionally saved as a PNG screenshot.
#include "commands.h"
#include "bundle.h"

#include "pluginterfaces/gui/iplugview.h"

#include <png.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace Steinberg;

namespace vst3host {

namespace {

// The host side of the editor: resizes the host window when the view asks.
class Frame : public IPlugFrame
{
public:
	Frame (xcb_connection_t* connection, xcb_window_t window) : connection_ (connection), window_ (window) {}

	tresult PLUGIN_API resizeView (IPlugView* view, ViewRect* size) override
	{
		if (!view || !size)
			return kInvalidArgument;
		const uint32_t wh[] = {static_cast<uint32_t> (size->getWidth ()), static_cast<uint32_t> (size->getHeight ())};
		xcb_configure_window (connection_, window_, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, wh);
		xcb_flush (connection_);
		return view->onSize (size);
	}
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		if (FUnknownPrivate::iidEqual (iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
		{
			*obj = static_cast<IPlugFrame*> (this);
			return kResultOk;
		}
		*obj = nullptr;
		return kNoInterface;
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }

private:
	xcb_connection_t* connection_;
	xcb_window_t window_;
};

// Writes what the X server shows of `window` (children included) as a PNG.
bool screenshot (xcb_connection_t* c, xcb_window_t window, const std::string& path, std::string& error)
{
	xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply (c, xcb_get_geometry (c, window), nullptr);
	if (!geometry)
	{
		error = "cannot read the window's geometry";
		return false;
	}
	const int width = geometry->width, height = geometry->height;
	free (geometry);
	xcb_get_image_reply_t* image = xcb_get_image_reply (
	    c, xcb_get_image (c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, width, height, ~0u), nullptr);
	if (!image || xcb_get_image_data_length (image) < width * height * 4)
	{
		free (image);
		error = "cannot read the window's pixels (is it mapped?)";
		return false;
	}
	const uint8_t* bgrx = xcb_get_image_data (image);
	std::vector<uint8_t> rgb (static_cast<size_t> (width) * height * 3);
	for (size_t i = 0; i < static_cast<size_t> (width) * height; ++i)
	{
		rgb[3 * i] = bgrx[4 * i + 2];
		rgb[3 * i + 1] = bgrx[4 * i + 1];
		rgb[3 * i + 2] = bgrx[4 * i];
	}
	free (image);
	png_image png {};
	png.version = PNG_IMAGE_VERSION;
	png.width = width;
	png.height = height;
	png.format = PNG_FORMAT_RGB;
	if (!png_image_write_to_file (&png, path.c_str (), 0, rgb.data (), 0, nullptr))
	{
		error = "cannot write " + path + ": " + png.message;
		return false;
	}
	return true;
}

} // namespace

int editorCommand (const EditorOptions& options)
{
	std::string error;
	auto fail = [] (const std::string& message) {
		std::fprintf (stderr, "vst3host: %s\n", message.c_str ());
		return 1;
	};
	const char* display = std::getenv ("DISPLAY");
	if (!display || !*display)
		return fail ("the editor needs an X display, and DISPLAY is not set");
	xcb_connection_t* c = xcb_connect (nullptr, nullptr);
	if (xcb_connection_has_error (c))
	{
		xcb_disconnect (c);
		return fail (std::string ("cannot connect to the X display ") + display);
	}

	int result = 1;
	{
		Bundle bundle;
		Effect effect;
		IPlugView* view = nullptr;
		xcb_window_t window = 0;
		if (!bundle.load (options.bundle, error) || !effect.create (bundle.factory (), error) ||
		    !effect.setup (48000.0, 512, error) || !effect.activate (error))
		{
			fail (error);
		}
		else if (!effect.controller)
		{
			fail ("the effect has no edit controller");
		}
		else if (!(view = effect.controller->createView (Vst::ViewType::kEditor)))
		{
			fail ("the effect has no editor");
		}
		else if (view->isPlatformTypeSupported (kPlatformTypeX11EmbedWindowID) != kResultTrue)
		{
			fail ("the editor cannot be embedded in an X11 window");
		}
		else
		{
			ViewRect size (0, 0, 800, 600);
			view->getSize (&size);
			const xcb_screen_t* screen = xcb_setup_roots_iterator (xcb_get_setup (c)).data;
			window = xcb_generate_id (c);
			const uint32_t values[] = {screen->black_pixel, XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY};
			xcb_create_window (c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
			                   static_cast<uint16_t> (size.getWidth ()), static_cast<uint16_t> (size.getHeight ()), 0,
			                   XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
			                   XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
			const char title[] = "vst3host editor";
			xcb_change_property (c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
			                     sizeof (title) - 1, title);
			xcb_map_window (c, window);
			xcb_flush (c);
			Frame frame (c, window);
			view->setFrame (&frame);
			if (view->attached (reinterpret_cast<void*> (static_cast<uintptr_t> (window)),
			                    kPlatformTypeX11EmbedWindowID) != kResultOk)
			{
				fail ("the editor failed to attach to the window");
			}
			else
			{
				// The editor knows its real size once it is attached.
				ViewRect attachedSize;
				if (view->getSize (&attachedSize) == kResultOk && attachedSize.getWidth () > 0 &&
				    attachedSize.getHeight () > 0 &&
				    (attachedSize.getWidth () != size.getWidth () || attachedSize.getHeight () != size.getHeight ()))
					frame.resizeView (view, &attachedSize);
				std::printf ("editor open in window 0x%x for %g s\n", window, options.seconds);
				std::fflush (stdout);
				const auto end = std::chrono::steady_clock::now () + std::chrono::duration<double> (options.seconds);
				while (std::chrono::steady_clock::now () < end)
				{
					while (xcb_generic_event_t* event = xcb_poll_for_event (c))
						free (event);
					std::this_thread::sleep_for (std::chrono::milliseconds (10));
				}
				result = 0;
				if (!options.screenshot.empty ())
				{
					if (screenshot (c, window, options.screenshot, error))
						std::printf ("wrote %s\n", options.screenshot.c_str ());
					else
						result = fail (error);
				}
				view->removed ();
			}
			view->setFrame (nullptr);
		}
		if (view)
			view->release ();
		if (window)
			xcb_destroy_window (c, window);
		xcb_flush (c);
	}
	xcb_disconnect (c);
	return result;
}

} // namespace vst3host
