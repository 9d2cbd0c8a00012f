#include "plugin/edit_watcher.h"
#include "log/log.h"

namespace Steinberg {
namespace QuillMarlow {

EditWatcher::EditWatcher (CommandRegionLink region, Vst::IComponentHandler* hostHandler)
: RunLoopTimer (kIntervalMs, "[QuillMarlowView] Host run loop refused a timer: edits will not mark the project"),
  region_ (std::move (region)), hostHandler_ (hostHandler), seen_ (0)
{
	readCount (seen_);
	if (hostHandler_)
		hostHandler_->addRef ();
}

bool EditWatcher::readCount (int32& count) const
{
	return region_.with ([&count] (Tandem::UICommand& ui) { count = ui.editCount.load (std::memory_order_relaxed); });
}

EditWatcher::~EditWatcher ()
{
	useRunLoopOf (nullptr);
	if (hostHandler_)
		hostHandler_->release ();
}

bool EditWatcher::check ()
{
	// The region lies in a processor's file, which the host may unmap first.
	int32 count = 0;
	if (!readCount (count) || count == seen_)
		return false;
	seen_ = count;
	// A new outpost counts from 0 again: nothing was edited.
	if (count == 0)
		return false;
	Vst::IComponentHandler2* handler2 = nullptr;
	if (!hostHandler_ ||
	    hostHandler_->queryInterface (Vst::IComponentHandler2::iid, reinterpret_cast<void**> (&handler2)) !=
	        kResultOk ||
	    !handler2)
		return false;
	const tresult result = handler2->setDirty (true);
	handler2->release ();
	if (!reported_)
		Tandem::logInfo () << "[QuillMarlowView] Served plug-in edited: project marked as changed";
	reported_ = true;
	return result == kResultOk;
}

} // namespace QuillMarlow
} // namespace Steinberg
