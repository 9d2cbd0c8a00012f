// Sizes between the host, the view and the served editor. The host learns
// the editor's size from getSize (as outpost last reported it) and, when that
// was not yet the real one, through IPlugFrame::resizeView after attaching;
// getSize reports a new size once the host has accepted it.
// A resize the served editor asks for reaches us as a new size report of
// outpost; the event thread sees it and, through the host's run loop, has the
// host's user-interface thread resize our windows and ask the host. A resize
// the host makes goes to the served editor when it can be resized.
#include "plugin/view.h"
#include "log/log.h"
#include "protocol/editor_size.h"

#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {

bool QuillMarlowView::takeReportedSize (int32& report)
{
	int32 width = 0, height = 0;
	if (!commands_.readSizeReport (report, width, height) || !Tandem::plausibleEditorSize (width, height))
		return false;
	editorWidth_ = width;
	editorHeight_ = height;
	servedResizable_ = Tandem::editorResizable (report);
	return true;
}

void QuillMarlowView::takeReportedSize ()
{
	int32 report = 0;
	takeReportedSize (report);
}

void QuillMarlowView::takeEmbeddedEditorSize ()
{
	int32 report = 0;
	if (!takeReportedSize (report))
		return;
	servedSize_ = Tandem::packEditorSize (editorWidth_, editorHeight_);
	sizeReportSeen_ = report;
}

void QuillMarlowView::takeReportedSizeOrPrepare ()
{
	int32 report = 0, reportedWidth = 0, reportedHeight = 0;
	if (!commands_.readSizeReport (report, reportedWidth, reportedHeight) || report != 0 || prepareAsked_)
	{
		takeReportedSize ();
		return;
	}
	// No editor was made yet: outpost makes the served one now, so that the
	// host's first window has its size (hosts make it before attaching).
	prepareAsked_ = true;
	int32 width = editorWidth_, height = editorHeight_;
	if (commands_.exchangeEditorSize (Tandem::CommandCode::PrepareEditor, width, height))
	{
		editorWidth_ = width;
		editorHeight_ = height;
		takeReportedSize ();
		Tandem::logInfo () << "[QuillMarlowView] The served editor's size before attaching: " << width << "x" << height;
	}
}

tresult PLUGIN_API QuillMarlowView::getSize (ViewRect* size)
{
	if (size)
	{
		// Not embedded yet: outpost keeps the size of the editor it made for
		// an earlier view (800 x 600 before there was any). Embedded: the
		// size the host has accepted, not yet the one the editor asks for.
		// Hosts that compare the two before they resize (the SDK's editor
		// host) would otherwise see nothing to do.
		if (!windows_.wine ())
			takeReportedSizeOrPrepare ();
		if (!windows_.wine () || hostWidth_ <= 0 || hostHeight_ <= 0)
		{
			hostWidth_ = editorWidth_;
			hostHeight_ = editorHeight_;
		}
		size->left = 0;
		size->top = 0;
		size->right = hostWidth_;
		size->bottom = hostHeight_;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::onSize (ViewRect* newSize)
{
	if (!newSize)
		return kResultOk;
	const int32 width = newSize->right - newSize->left;
	const int32 height = newSize->bottom - newSize->top;
	// An editor that cannot be resized keeps its size, as it would in a
	// Windows host: the host hears so, and getSize keeps answering it.
	if (windows_.wine () && servedSizeFixed () && (width != editorWidth_ || height != editorHeight_))
	{
		Tandem::logInfo () << "[QuillMarlowView] The served editor cannot be resized: it keeps " << editorWidth_ << "x"
		                   << editorHeight_ << " (host asked " << width << "x" << height << ")";
		hostWidth_ = editorWidth_;
		hostHeight_ = editorHeight_;
		return kResultFalse;
	}
	hostWidth_ = width;
	hostHeight_ = height;
	if (!windows_.wine () || !windows_.connection () || !Tandem::plausibleEditorSize (width, height))
		return kResultOk;
	windows_.resize (width, height);
	editorWidth_ = width;
	editorHeight_ = height;
	// A size the host chose, not the one the served editor has: the editor
	// follows when it can (its answer comes back as a size report).
	if (servedResizable_ && servedSize_ != Tandem::packEditorSize (width, height))
	{
		int32 w = width, h = height;
		if (commands_.exchangeEditorSize (Tandem::CommandCode::ResizeEditor, w, h))
			Tandem::logInfo () << "[QuillMarlowView] Served editor resized to " << w << "x" << h;
		else
			Tandem::logError () << "[QuillMarlowView] Served editor did not take the size " << width << "x" << height;
	}
	return kResultOk;
}

bool QuillMarlowView::servedSizeFixed () const
{
	// No report yet: nothing is known of the served editor, and the host's
	// sizes are taken as before.
	int32 report = 0, width = 0, height = 0;
	return commands_.readSizeReport (report, width, height) && report != 0 && !Tandem::editorResizable (report);
}

tresult PLUGIN_API QuillMarlowView::canResize ()
{
	if (!windows_.wine ())
		takeReportedSizeOrPrepare ();
	return servedResizable_ ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API QuillMarlowView::checkSizeConstraint (ViewRect* rect)
{
	if (!rect)
		return kInvalidArgument;
	if (!windows_.wine ())
		takeReportedSizeOrPrepare ();
	// Not resizable: the one size it takes is its own.
	if (servedSizeFixed ())
	{
		rect->right = rect->left + editorWidth_;
		rect->bottom = rect->top + editorHeight_;
		return kResultOk;
	}
	if (!windows_.wine ())
		return kResultOk;
	int32 width = rect->right - rect->left, height = rect->bottom - rect->top;
	if (!Tandem::plausibleEditorSize (width, height))
		return kResultOk;
	if (commands_.exchangeEditorSize (Tandem::CommandCode::CheckEditorSize, width, height))
	{
		rect->right = rect->left + width;
		rect->bottom = rect->top + height;
	}
	return kResultOk;
}

tresult PLUGIN_API QuillMarlowView::setContentScaleFactor (ScaleFactor factor)
{
	const uint64 packed = Tandem::packContentScale (factor);
	if (!Tandem::plausibleContentScale (packed))
		return kInvalidArgument;
	// Before the first window the served editor is made for it, so that its
	// scaled size is what getSize answers.
	constexpr auto kScaleTimeout = std::chrono::seconds (2);
	uint64 answer = packed;
	if (!commands_.exchange (Tandem::CommandCode::SetContentScale, answer, kScaleTimeout))
		return kResultFalse;
	Tandem::logInfo () << "[QuillMarlowView] Content scale " << factor
	                   << (answer == 1 ? ": the served editor scales" : ": the served editor does not scale");
	if (answer != 1)
		return kResultFalse;
	if (!windows_.wine ())
		takeReportedSize ();
	return kResultOk;
}

void QuillMarlowView::checkSizeReport ()
{
	int32 report = 0, width = 0, height = 0;
	if (!commands_.readSizeReport (report, width, height) || report == sizeReportSeen_)
		return;
	sizeReportSeen_ = report;
	servedResizable_ = Tandem::editorResizable (report);
	if (!Tandem::plausibleEditorSize (width, height))
		return;
	servedSize_ = Tandem::packEditorSize (width, height);
	if (width == editorWidth_ && height == editorHeight_)
		return;
	Tandem::logInfo () << "[QuillMarlowView] outpost reports a new editor size: " << width << "x" << height;
	if (hostLoopRegistered_ && eventFd_ >= 0)
	{
		// The host may only be called on its own thread: its run loop takes
		// it from here.
		pendingSize_ = Tandem::packEditorSize (width, height);
		const uint64_t one = 1;
		if (::write (eventFd_, &one, sizeof one) != sizeof one)
			Tandem::logError () << "[QuillMarlowView] Could not wake the host's run loop";
		return;
	}
	// No run loop: our own windows follow, the host's window cannot be asked.
	windows_.resize (width, height);
	editorWidth_ = hostWidth_ = width;
	editorHeight_ = hostHeight_ = height;
	Tandem::logInfo () << "[QuillMarlowView] Host offers no run loop: its window is not asked for " << width << "x"
	                   << height;
}

void PLUGIN_API QuillMarlowView::onFDIsSet (Linux::FileDescriptor fd)
{
	uint64_t count = 0;
	if (fd != eventFd_ || ::read (fd, &count, sizeof count) != sizeof count)
		return;
	const uint64 packed = pendingSize_.exchange (0);
	if (packed)
		followServedSize (Tandem::packedEditorWidth (packed), Tandem::packedEditorHeight (packed));
}

void QuillMarlowView::followServedSize (int32 width, int32 height)
{
	if (!windows_.wine ())
		return;
	Tandem::logInfo () << "[QuillMarlowView] Following the served editor to " << width << "x" << height;
	windows_.resize (width, height);
	editorWidth_ = width;
	editorHeight_ = height;
	askHostToResize (width, height);
}

void QuillMarlowView::askHostToResize (int32 width, int32 height)
{
	if (!frame_)
	{
		Tandem::logInfo () << "[QuillMarlowView] No host frame: the host window is not asked for " << width << "x"
		                   << height;
		hostWidth_ = width;
		hostHeight_ = height;
		return;
	}
	Tandem::logInfo () << "[QuillMarlowView] Asking host to resize to " << width << "x" << height;
	ViewRect rect (0, 0, width, height);
	const tresult result = frame_->resizeView (this, &rect);
	// Accepted: reported from now on (the host's onSize may have said so
	// already).
	if (result == kResultOk)
	{
		hostWidth_ = width;
		hostHeight_ = height;
	}
	else
		Tandem::logError () << "[QuillMarlowView] Host did not resize to " << width << "x" << height << " (result "
		                    << result << ")";
}

} // namespace QuillMarlow
} // namespace Steinberg
