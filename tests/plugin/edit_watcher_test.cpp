// An edit in the served editor marks the host's project as changed: with the
// host's component handler set on the controller, the editor view follows
// outpost's edit count on a timer of the host's run loop (the frame's) and
// calls setDirty(true) when the count moves.
#include "host_objects.h"
#include "test_support.h"

#include "plugin/controller.h"

#include <gmock/gmock.h>

namespace Steinberg {
namespace QuillMarlow {
namespace {

using QuillMarlowTest::TestFrame;
using QuillMarlowTest::TestHostHandler;

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

	Tandem::UICommand* ui = InstanceRegistry::findActiveUICommand ();
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
