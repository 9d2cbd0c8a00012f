// The served processor's latency and tail as outpost publishes them: read
// once audio is set up and again when the plug-in announces a change
// (restartComponent with kLatencyChanged, an I/O change or a reload),
// counted in latencyReport only when they changed, and answered to
// GetLatency, special tail values unchanged.
#include <gtest/gtest.h>

#include <memory>

#include "application_access.h"
#include "fake_plugin.h"
#include "plugin_instance.h"
#include "test_output.h"

using namespace testing;
using namespace fake;

namespace Tandem {
namespace {

TEST (OutpostLatency, ReadAtSetupAndOnAnnouncementsCountedWhenChangedAndAnswered)
{
	NiceMock<MockFactory> factory;
	NiceMock<MockComponent> component;
	component.single = true;
	factory.addClass ('A', "Audio Module Class", "Proc");
	factory.serveClasses ();
	ON_CALL (factory, createInstance (_, _, _)).WillByDefault (Invoke ([&component] (FIDString, FIDString, void** obj) {
		component.addRef ();
		*obj = static_cast<IComponent*> (&component);
		return kResultOk;
	}));
	ON_CALL (component, initialize (_)).WillByDefault (Return (kResultOk));
	ON_CALL (component, setupProcessing (_)).WillByDefault (Return (kResultOk));
	IComponentHandler* handler = nullptr;
	ON_CALL (component, setComponentHandler (_)).WillByDefault (Invoke ([&handler] (IComponentHandler* h) {
		handler = h;
		return kResultOk;
	}));
	uint32 latency = 256, tail = 512;
	ON_CALL (component, getLatencySamples ()).WillByDefault (Invoke ([&latency] { return latency; }));
	ON_CALL (component, getTailSamples ()).WillByDefault (Invoke ([&tail] { return tail; }));

	SharedFile file (kFileSize);
	ASSERT_NE (file.base, MAP_FAILED);
	UICommand* ui = file.regions ().uiCommand;
	{
		OutpostApplication app (file.path, "C:\\Missing\\Quill.vst3");
		captureOutput ([&] {
			EXPECT_FALSE (app.initialize ()) << "no module natively: the instance comes from the test";
			auto instance = std::make_unique<PluginInstance> (&factory);
			ASSERT_TRUE (instance->createInstance ());
			ASSERT_TRUE (instance->setupAudio (48000.0, kMaxBlockSize));
			OutpostApplicationTestAccess::serve (app, std::move (instance));
		});
		ASSERT_NE (handler, nullptr);
		auto turn = [&app] { return captureOutput ([&app] { OutpostApplicationTestAccess::publishLatency (app); }); };

		const Captured first = turn ();
		EXPECT_EQ (ui->latencyReport.load (), 1) << "read once audio is set up";
		EXPECT_TRUE (first.hasOut ("[Outpost] Latency reported: 256 samples, tail 512 samples"));
		turn ();
		EXPECT_EQ (ui->latencyReport.load (), 1);

		handler->restartComponent (kLatencyChanged);
		turn ();
		EXPECT_EQ (ui->latencyReport.load (), 1) << "an announcement without a change is not counted";

		latency = 300;
		tail = kInfiniteTail;
		handler->restartComponent (kIoChanged);
		turn ();
		EXPECT_EQ (ui->latencyReport.load (), 2);

		latency = 128;
		handler->restartComponent (kLatencyChanged);
		turn ();
		EXPECT_EQ (ui->latencyReport.load (), 3);

		ui->parentWindow = 0;
		ui->command = static_cast<std::int32_t> (CommandCode::GetLatency);
		ui->processed.store (false);
		captureOutput ([&] { OutpostApplicationTestAccess::command (app); });
		EXPECT_TRUE (ui->processed.load ());
		EXPECT_EQ (packedLatency (ui->parentWindow), 128u);
		EXPECT_EQ (packedTail (ui->parentWindow), kInfiniteTail);

		// The host activates again at another rate, offline: the processor
		// is set up with the host's setup, and the latency it applies at
		// activation is the one answered.
		SessionData& session = file.session ();
		session.sampleRate = 44100.0;
		session.maxSamplesPerBlock = 256;
		session.processMode = kOffline;
		session.symbolicSampleSize = kSample32;
		EXPECT_CALL (component, setupProcessing (Truly ([] (ProcessSetup& s) {
			             return s.sampleRate == 44100.0 && s.maxSamplesPerBlock == 256 && s.processMode == kOffline;
		             })));
		EXPECT_CALL (component, setActive (_)).WillRepeatedly (Invoke ([&latency] (TBool on) {
			if (on)
				latency = 64;
			return kResultOk;
		}));
		ui->command = static_cast<std::int32_t> (CommandCode::Activate);
		ui->processed.store (false);
		captureOutput ([&] { OutpostApplicationTestAccess::command (app); });
		EXPECT_EQ (session.activateResult, kResultOk);
		EXPECT_EQ (session.latencySamples, 64u);
		EXPECT_EQ (session.tailSamples, kInfiniteTail);
	}
}

} // namespace
} // namespace Tandem
