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

TEST(OutpostLatency, ReadAtSetupAndOnAnnouncementsCountedWhenChangedAndAnswered) {
    NiceMock<MockFactory> factory;
    NiceMock<MockComponent> component;
    component.single = true;
    factory.addClass('A', "Audio Module Class", "Proc");
    factory.serveClasses();
    ON_CALL(factory, createInstance(_, _, _)).WillByDefault(Invoke([&component](FIDString, FIDString, void** obj) {
        component.addRef();
        *obj = static_cast<IComponent*>(&component);
        return kResultOk;
    }));
    ON_CALL(component, initialize(_)).WillByDefault(Return(kResultOk));
    ON_CALL(component, setupProcessing(_)).WillByDefault(Return(kResultOk));
    IComponentHandler* handler = nullptr;
    ON_CALL(component, setComponentHandler(_)).WillByDefault(Invoke([&handler](IComponentHandler* h) {
        handler = h;
        return kResultOk;
    }));
    uint32 latency = 256, tail = 512;
    ON_CALL(component, getLatencySamples()).WillByDefault(Invoke([&latency] { return latency; }));
    ON_CALL(component, getTailSamples()).WillByDefault(Invoke([&tail] { return tail; }));

    SharedFile file(kSharedMemorySize);
    ASSERT_NE(file.base, MAP_FAILED);
    UICommand* ui = file.regions().uiCommand;
    {
        OutpostApplication app(file.path, "C:\\Missing\\Quill.vst3");
        captureOutput([&] {
            EXPECT_FALSE(app.initialize()) << "no module natively: the instance comes from the test";
            auto instance = std::make_unique<PluginInstance>(&factory);
            ASSERT_TRUE(instance->createInstance());
            ASSERT_TRUE(instance->setupAudio(48000.0, kMaxBlockSize));
            OutpostApplicationTestAccess::serve(app, std::move(instance));
        });
        ASSERT_NE(handler, nullptr);
        auto turn = [&app] { return captureOutput([&app] { OutpostApplicationTestAccess::publishLatency(app); }); };

        const Captured first = turn();
        EXPECT_EQ(ui->latencyReport.load(), 1) << "read once audio is set up";
        EXPECT_TRUE(first.hasOut("[Outpost] Latency reported: 256 samples, tail 512 samples"));
        turn();
        EXPECT_EQ(ui->latencyReport.load(), 1);

        handler->restartComponent(kLatencyChanged);
        turn();
        EXPECT_EQ(ui->latencyReport.load(), 1) << "an announcement without a change is not counted";

        latency = 300;
        tail = kInfiniteTail;
        handler->restartComponent(kIoChanged);
        turn();
        EXPECT_EQ(ui->latencyReport.load(), 2);

        latency = 128;
        handler->restartComponent(kLatencyChanged);
        turn();
        EXPECT_EQ(ui->latencyReport.load(), 3);

        ui->parentWindow = 0;
        ui->command = static_cast<std::int32_t>(CommandCode::GetLatency);
        ui->processed.store(false);
        captureOutput([&] { OutpostApplicationTestAccess::command(app); });
        EXPECT_TRUE(ui->processed.load());
        EXPECT_EQ(packedLatency(ui->parentWindow), 128u);
        EXPECT_EQ(packedTail(ui->parentWindow), kInfiniteTail);
    }
}

}  // namespace
}  // namespace Tandem
