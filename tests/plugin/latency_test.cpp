// The served plug-in's latency and tail reach the host: the processor
// reports what outpost read at activation, a latency change tells the host
// once through restartComponent(kLatencyChanged) on its run loop, and the
// processor reports the new latency once the host restarted it. The run
// loop is the host context's, or, in hosts that offer it only to editors,
// the open editor's frame.
#include "host_objects.h"
#include "test_support.h"

#include "plugin/controller.h"

#include "public.sdk/source/vst/hosting/hostclasses.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace Steinberg {
namespace QuillMarlow {
namespace {

using QuillMarlowTest::TestFrame;
using QuillMarlowTest::TestHostHandler;
using QuillMarlowTest::TestRunLoop;

// Whether the host context offers the run loop (else only the editor's frame).
class Latency : public testing::TestWithParam<bool>
{};

TEST_P (Latency, ServedValuesReachTheHostAndOnlyALatencyChangeRestartsItOnce)
{
	// The stand-in's served plug-in takes its latency and tail from this file.
	const std::string values = testing::TempDir () + "qm_latency_" + std::to_string (::getpid ());
	auto serve = [&values] (uint32 latency, uint32 tail) { std::ofstream (values) << latency << " " << tail << "\n"; };
	serve (256, 512);

	Vst::HostApplication hostContext;
	QuillMarlowTest::HostedProcessor p ("latency:" + values, 1024, 48000.0, &hostContext);
	ASSERT_EQ (p->setActive (true), kResultOk);
	EXPECT_EQ (p->getLatencySamples (), 256u);
	EXPECT_EQ (p->getTailSamples (), 512u);

	const bool contextRunLoop = GetParam ();
	TestRunLoop runLoop;
	auto* controller = static_cast<Vst::IEditController*> (QuillMarlowController::createInstance (nullptr));
	ASSERT_EQ (controller->initialize (contextRunLoop ? &runLoop : nullptr), kResultOk);
	TestHostHandler handler;
	ASSERT_EQ (controller->setComponentHandler (&handler), kResultOk);
	FUnknownPtr<Vst::IConnectionPoint> controllerPoint (controller);
	ASSERT_EQ (p->connect (controllerPoint), kResultOk);
	TestFrame frame;
	IPlugView* view = nullptr;
	if (!contextRunLoop)
	{
		view = controller->createView ("editor");
		ASSERT_NE (view, nullptr);
		view->setFrame (&frame);
	}
	TestRunLoop& hostLoop = contextRunLoop ? static_cast<TestRunLoop&> (runLoop) : frame;
	ASSERT_NE (hostLoop.timer, nullptr) << "a timer on the host's run loop";

	Tandem::UICommand* ui = p->sharedMemory ().uiCommand ();
	ASSERT_NE (ui, nullptr);
	// Changes the served values and waits until outpost has counted them.
	auto change = [&] (uint32 latency, uint32 tail) {
		const uint8 before = ui->latencyReport.load ();
		serve (latency, tail);
		const auto deadline = std::chrono::steady_clock::now () + std::chrono::seconds (10);
		while (ui->latencyReport.load () == before && std::chrono::steady_clock::now () < deadline)
			std::this_thread::sleep_for (std::chrono::milliseconds (5));
		return ui->latencyReport.load () != before;
	};
	auto tick = [&hostLoop] {
		for (int i = 0; i < 3; ++i)
			hostLoop.fire ();
	};

	tick ();
	EXPECT_EQ (handler.restartCalls, 0) << "an unchanged plug-in asks for no restart";

	ASSERT_TRUE (change (300, 512));
	testing::internal::CaptureStdout ();
	tick ();
	const std::string out = QuillMarlowTest::capturedStdout ();
	EXPECT_EQ (handler.restartCalls, 1) << "told once";
	EXPECT_EQ (handler.restartFlags, Vst::kLatencyChanged);
	EXPECT_THAT (out, testing::HasSubstr ("[QuillMarlowController] Served plug-in's latency changed from 256 to 300 "
	                                      "samples: asking the host to restart the plug-in\n"));
	EXPECT_EQ (p->getLatencySamples (), 256u) << "what the host was told, until it restarts the plug-in";
	ASSERT_EQ (p->setActive (false), kResultOk);
	ASSERT_EQ (p->setActive (true), kResultOk);
	EXPECT_EQ (p->getLatencySamples (), 300u);
	tick ();
	EXPECT_EQ (handler.restartCalls, 1);

	// The tail alone needs no restart; its special values pass through.
	ASSERT_TRUE (change (300, Vst::kInfiniteTail));
	tick ();
	EXPECT_EQ (handler.restartCalls, 1);
	EXPECT_EQ (p->getTailSamples (), Vst::kInfiniteTail);

	// Without outpost the last known values stay.
	::kill (p->outpostPid (), SIGKILL);
	EXPECT_EQ (p->getLatencySamples (), 300u);
	EXPECT_EQ (p->getTailSamples (), Vst::kInfiniteTail);

	if (view)
	{
		view->setFrame (nullptr);
		view->release ();
	}
	p->disconnect (controllerPoint);
	controller->terminate ();
	controller->release ();
	::unlink (values.c_str ());
}

INSTANTIATE_TEST_SUITE_P (RunLoop, Latency, testing::Values (true, false),
                          [] (const testing::TestParamInfo<bool>& info) {
	                          return info.param ? "OfTheHostContext" : "OfTheEditorsFrame";
                          });

} // namespace
} // namespace QuillMarlow
} // namespace Steinberg
