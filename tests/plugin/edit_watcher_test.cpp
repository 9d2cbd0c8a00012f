// An edit in the served editor marks the host's project as changed: with the
// host's component handler set on the controller, the editor view follows
// outpost's edit count on a timer of the host's run loop (the frame's) and
// calls setDirty(true) when the count moves.
#include "test_support.h"

#include "plugin/controller.h"

#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <gmock/gmock.h>

namespace Steinberg {
namespace QuillMarlow {
namespace {

// The host's handler: counts setDirty(true).
class TestHostHandler : public Vst::IComponentHandler, public Vst::IComponentHandler2
{
public:
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		if (FUnknownPrivate::iidEqual (iid, Vst::IComponentHandler2::iid))
			*obj = static_cast<Vst::IComponentHandler2*> (this);
		else if (FUnknownPrivate::iidEqual (iid, Vst::IComponentHandler::iid) ||
		         FUnknownPrivate::iidEqual (iid, FUnknown::iid))
			*obj = static_cast<Vst::IComponentHandler*> (this);
		else
		{
			*obj = nullptr;
			return kNoInterface;
		}
		return kResultOk;
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
	tresult PLUGIN_API beginEdit (Vst::ParamID) override { return kResultOk; }
	tresult PLUGIN_API performEdit (Vst::ParamID, Vst::ParamValue) override { return kResultOk; }
	tresult PLUGIN_API endEdit (Vst::ParamID) override { return kResultOk; }
	tresult PLUGIN_API restartComponent (int32) override { return kResultOk; }
	tresult PLUGIN_API setDirty (TBool state) override
	{
		dirtyCalls += state ? 1 : 0;
		return kResultOk;
	}
	tresult PLUGIN_API requestOpenEditor (FIDString) override { return kResultFalse; }
	tresult PLUGIN_API startGroupEdit () override { return kResultOk; }
	tresult PLUGIN_API finishGroupEdit () override { return kResultOk; }

	int dirtyCalls = 0;
};

// The host's frame with its run loop: keeps the one timer it is given.
class TestFrame : public IPlugFrame, public Linux::IRunLoop
{
public:
	tresult PLUGIN_API queryInterface (const TUID iid, void** obj) override
	{
		if (FUnknownPrivate::iidEqual (iid, Linux::IRunLoop::iid))
			*obj = static_cast<Linux::IRunLoop*> (this);
		else if (FUnknownPrivate::iidEqual (iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual (iid, FUnknown::iid))
			*obj = static_cast<IPlugFrame*> (this);
		else
		{
			*obj = nullptr;
			return kNoInterface;
		}
		return kResultOk;
	}
	uint32 PLUGIN_API addRef () override { return 1; }
	uint32 PLUGIN_API release () override { return 1; }
	tresult PLUGIN_API resizeView (IPlugView*, ViewRect*) override { return kResultOk; }
	tresult PLUGIN_API registerEventHandler (Linux::IEventHandler*, Linux::FileDescriptor) override { return kResultOk; }
	tresult PLUGIN_API unregisterEventHandler (Linux::IEventHandler*) override { return kResultOk; }
	tresult PLUGIN_API registerTimer (Linux::ITimerHandler* handler, Linux::TimerInterval) override
	{
		timer = handler;
		return kResultOk;
	}
	tresult PLUGIN_API unregisterTimer (Linux::ITimerHandler* handler) override
	{
		if (handler == timer)
			timer = nullptr;
		return kResultOk;
	}

	Linux::ITimerHandler* timer = nullptr;
};

TEST (EditWatcher, EditsCountedByOutpostMarkTheHostsProjectChangedOnItsRunLoop)
{
	QuillMarlowTest::HostedProcessor p;
	ASSERT_EQ (p->setActive (true), kResultOk);
	auto* controller = static_cast<Vst::IEditController*> (QuillMarlowController::createInstance (nullptr));
	ASSERT_EQ (controller->initialize (nullptr), kResultOk);
	TestHostHandler handler;
	ASSERT_EQ (controller->setComponentHandler (&handler), kResultOk);
	testing::internal::CaptureStdout ();
	IPlugView* view = controller->createView ("editor");
	ASSERT_NE (view, nullptr);
	TestFrame frame;
	view->setFrame (&frame);
	ASSERT_NE (frame.timer, nullptr) << "a timer on the host's run loop";

	Tandem::UICommand* ui = QuillMarlowProcessor::findActiveUICommand ();
	ASSERT_NE (ui, nullptr);
	frame.timer->onTimer ();
	EXPECT_EQ (handler.dirtyCalls, 0) << "no edit yet";
	ui->editCount.store (1);
	frame.timer->onTimer ();
	EXPECT_EQ (handler.dirtyCalls, 1);
	frame.timer->onTimer ();
	EXPECT_EQ (handler.dirtyCalls, 1) << "once per change";
	ui->editCount.store (5);
	frame.timer->onTimer ();
	EXPECT_EQ (handler.dirtyCalls, 2);
	const std::string out = testing::internal::GetCapturedStdout ();
	EXPECT_THAT (out, testing::HasSubstr ("[QuillMarlowView] Served plug-in edited: project marked as changed\n"));

	view->setFrame (nullptr);
	EXPECT_EQ (frame.timer, nullptr) << "the timer goes with the frame";
	view->release ();
	controller->terminate ();
	controller->release ();
}

} // namespace
} // namespace QuillMarlow
} // namespace Steinberg
