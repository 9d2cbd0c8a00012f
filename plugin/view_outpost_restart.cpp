// The editor view while its outpost is restarted: the wrapper says that the
// plug-in is gone instead of showing a dead area, and once the new outpost
// is up its editor is embedded in the same wrapper, in the same host window.
// All of it runs on the view's event thread.
#include "plugin/view.h"
#include "log/log.h"

#include <cstring>

namespace Steinberg {
namespace QuillMarlow {

namespace {

constexpr auto kRestartShowTimeout = std::chrono::seconds (10);
constexpr auto kGoneRedrawPeriod = std::chrono::milliseconds (500);
constexpr const char kGoneText[] = "The plug-in has stopped. It is being restarted...";

} // namespace

void QuillMarlowView::followOutpost (uint32 wrapper, uint32& wine)
{
	bool up = true;
	int32 restarts = 0;
	if (!region_.outpostStatus (up, restarts))
		return;  // a region of no processor: nothing restarts it
	const auto now = std::chrono::steady_clock::now ();
	if (!up)
	{
		if (!outpostGoneShown_)
			Tandem::logInfo () << "[QuillMarlowView] outpost is gone: the editor comes back once it is restarted";
		// Wine's window went with outpost: the area it leaves is drawn anew
		// now and then, which also covers any exposure.
		if (!outpostGoneShown_ || now >= nextGoneDraw_)
		{
			drawOutpostGone (wrapper);
			nextGoneDraw_ = now + kGoneRedrawPeriod;
		}
		outpostGoneShown_ = true;
		return;
	}
	if (restarts == restartsSeen_)
		return;
	restartsSeen_ = restarts;
	outpostGoneShown_ = false;
	if (embedRestartedEditor (wrapper))
		wine = windows_.wine ();
}

bool QuillMarlowView::embedRestartedEditor (uint32 wrapper)
{
	Tandem::logInfo () << "[QuillMarlowView] outpost was restarted: asking it for its editor";
	if (!postShowEditor (kRestartShowTimeout) || !waitForAcknowledgement (kRestartShowTimeout))
		return false;
	uint64 window = 0;
	region_.with ([&] (Tandem::UICommand& ui) { window = ui.wineWindow; });
	if (window == 0)
	{
		Tandem::logError () << "[QuillMarlowView] The restarted outpost did not provide an editor window";
		return false;
	}
	windows_.setWine (window);
	takeEmbeddedEditorSize ();
	const uint16 width = static_cast<uint16> (editorWidth_.load ()), height = static_cast<uint16> (editorHeight_.load ());
	windows_.embedWine (wrapper, wrapper, width, height);
	windows_.updatePosition (wrapper, windows_.wine (), width, height, nullptr, true);
	xcb_flush (windows_.connection ());
	Tandem::logInfo () << "[QuillMarlowView] Editor of the restarted outpost embedded: Wine window 0x" << std::hex
	                   << windows_.wine ();
	return true;
}

void QuillMarlowView::drawOutpostGone (uint32 wrapper)
{
	xcb_connection_t* const connection = windows_.connection ();
	if (!windows_.connected () || !wrapper)
		return;
	if (!goneTextGc_)
	{
		static const char kFont[] = "fixed";
		const uint32 font = xcb_generate_id (connection);
		xcb_open_font (connection, font, sizeof (kFont) - 1, kFont);
		goneTextGc_ = xcb_generate_id (connection);
		const uint32 values[] = {windows_.screen ()->white_pixel, WindowTree::kWrapperBackground, font};
		xcb_create_gc (connection, goneTextGc_, wrapper, XCB_GC_FOREGROUND | XCB_GC_BACKGROUND | XCB_GC_FONT, values);
		xcb_close_font (connection, font);
	}
	xcb_clear_area (connection, 0, wrapper, 0, 0, 0, 0);
	xcb_image_text_8 (connection, static_cast<uint8_t> (sizeof (kGoneText) - 1), wrapper, goneTextGc_, 16, 24,
	                  kGoneText);
	xcb_flush (connection);
}

} // namespace QuillMarlow
} // namespace Steinberg
