#include "plugin/edit_watcher.h"
#include "log/log.h"


namespace Steinberg {
namespace QuillMarlow {

EditWatcher::EditWatcher (CommandRegionLink region, Vst::IComponentHandler* hostHandler)
: region_ (std::move (region)), hostHandler_ (hostHandler), seen_ (0)
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

tresult PLUGIN_API EditWatcher::queryInterface (const TUID _iid, void** obj)
{
	if (!obj)
		return kInvalidArgument;
	if (FUnknownPrivate::iidEqual (_iid, Linux::ITimerHandler::iid) || FUnknownPrivate::iidEqual (_iid, FUnknown::iid))
	{
		addRef ();
		*obj = static_cast<Linux::ITimerHandler*> (this);
		return kResultOk;
	}
	*obj = nullptr;
	return kNoInterface;
}

uint32 PLUGIN_API EditWatcher::addRef ()
{
	return static_cast<uint32> (refCount_.fetch_add (1) + 1);
}

uint32 PLUGIN_API EditWatcher::release ()
{
	const int32 left = refCount_.fetch_sub (1) - 1;
	if (left == 0)
		delete this;
	return static_cast<uint32> (left);
}

void EditWatcher::useRunLoopOf (IPlugFrame* frame)
{
	if (runLoop_)
	{
		runLoop_->unregisterTimer (this);
		runLoop_->release ();
		runLoop_ = nullptr;
	}
	Linux::IRunLoop* runLoop = nullptr;
	if (!frame || frame->queryInterface (Linux::IRunLoop::iid, reinterpret_cast<void**> (&runLoop)) != kResultOk ||
	    !runLoop)
		return;
	if (runLoop->registerTimer (this, kIntervalMs) != kResultOk)
	{
		Tandem::logInfo () << "[QuillMarlowView] Host run loop refused a timer: edits will not mark the project";
		runLoop->release ();
		return;
	}
	runLoop_ = runLoop;
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
	    hostHandler_->queryInterface (Vst::IComponentHandler2::iid, reinterpret_cast<void**> (&handler2)) != kResultOk ||
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
