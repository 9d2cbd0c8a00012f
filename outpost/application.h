// outpost's application: maps the shared file, loads the served plug-in,
// runs its audio on a thread that spins while blocks flow and sleeps when
// none come, serves the commands the Linux plug-in posts, and ends when the
// host process that started it is gone.
#pragma once

#include "log/log.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"
#include "protocol/event_data.h"
#include "protocol/chain_wake.h"
#include "protocol/file_hold.h"
#include "protocol/file_regions.h"
#include "protocol/parameter_data.h"
#include "protocol/tandem_protocol.h"
#include "host_thread.h"
#include "midi_mapping_writer.h"
#include "parameter_list_writer.h"
#include "plugin_instance.h"
#include "shared_file_view.h"
#include "vst3_loader.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace Tandem {

class OutpostApplication {
public:
    // `classId` (32 hex digits) names the audio class to serve; empty: the
    // module's last audio class.
    OutpostApplication(std::string sharedMemoryName, std::string vst3Path, std::string classId = {});
    ~OutpostApplication();
    OutpostApplication(const OutpostApplication&) = delete;
    OutpostApplication& operator=(const OutpostApplication&) = delete;

    bool initialize();
    void run();

    // Handles the command in the command slot; always ends by acknowledging it.
    void processUICommand();

private:
    // Native tests and fuzz targets drive the handlers on a file and an
    // instance of their own.
    friend struct OutpostApplicationTestAccess;

    // Writes the served editor's size and resizability into the command
    // region when they differ from what was last written there.
    void publishEditorSize();
    // The size commands: argument and answer travel in parentWindow.
    void handleEditorSizeCommand(CommandCode code);
    // Reads the served processor's latency and tail when they were never
    // read, when the plug-in announced a change, or when `readAgain`; and
    // advances latencyReport when they differ from what was published.
    void publishLatency(bool readAgain);

    // The state commands (application_state.cpp): the served processor's
    // state and its controller's own, through the state region.
    void handleStateCommand(CommandCode code);

    // The host's activation (application_activation.cpp). The session
    // region must be the one this build speaks (written by a plug-in of the
    // same build); outpost says which version it speaks either way.
    bool acceptSessionRegion();
    void handleActivate();
    void handleDeactivate();
    // Audio thread: the served processor follows the host's setProcessing.
    void followProcessing();

    // The parameter region (application_parameters.cpp): published once the
    // served plug-in exists, kept current on each main-loop turn and after
    // a state was set.
    void startParameters();
    void serviceParameterRegion();
    void publishParametersAfterState();
    // A thread that sleeps on the region's `wake` word and ends the main
    // thread's wait when the Linux side asks something of it.
    void startWaker();
    void stopWaker();

    void audioThreadFunc();
    void processAudioData();
    // Audio thread: a block of any buses, in the bus region's pools.
    void processBusBlock(std::int32_t samples, HostBlock& host);
    // The served buses in the bus region (application_buses.cpp): published
    // after creation, and the host's bus commands.
    void startBuses();
    void handleBusCommand(std::int32_t code);
    // Main thread: restart flags the served plug-in raised besides those
    // about parameters, relayed to the host after the buses they announce
    // were published again.
    void relayOtherRestarts();
    void stopAudioThread();
    // True when the Linux process that started us has gone away.
    bool hostGone() const;
    void leaveForGoneHost();
    // Main thread: makes sure every edit the served controller made so far
    // has reached its processor, also while no blocks come, by asking the
    // audio thread for a process() call of 0 samples. False when the audio
    // thread did not manage it in time.
    bool flushEditsToProcessor();
    // Wakes the audio thread to look at its flags.
    void wakeAudioThread();

    // The regions of the mapped file, and no regions.
    void useView(void* view);
    void forgetView();

    AudioLogUser logUser_;
    std::string sharedMemoryName_;
    std::string vst3Path_;
    std::string classId_;
    // Direct Linux system calls work: the audio thread may sleep between
    // blocks, and the host's exit is watched through our parent's id.
    bool linuxCalls_ = false;
    std::int64_t hostPid_ = 0;
    bool running_ = false;
    bool editorShown_ = false;
    std::atomic<bool> audioThreadRunning_{false};
    // Set by the main thread to ask for flushEditsToProcessor's 0-sample
    // process() call; the audio thread clears it when the call is done.
    std::atomic<bool> flushRequested_{false};
    std::thread audioThread_;
    SharedFileView file_;
    UICommand* uiCommand_ = nullptr;
    AudioData* audioData_ = nullptr;
    StateData* stateData_ = nullptr;
    SessionData* session_ = nullptr;
    ParameterData* parameterData_ = nullptr;
    BusData* busData_ = nullptr;
    EventData* eventData_ = nullptr;
    // Our slot among the outposts of the host's chains (chain_file.h).
    ChainPlace chain_;
    // Our hold on the shared file, which tells that it is in use
    // (protocol/file_hold.h).
    SharedFileHold sharedHold_;
    // Before the loader: COM is left only after the module is freed.
    HostThread hostThread_;
    VST3Loader loader_;
    std::unique_ptr<PluginInstance> plugin_;
    std::unique_ptr<ParameterListWriter> parameters_;
    std::unique_ptr<MidiMappingWriter> midi_;
    std::thread waker_;
    std::atomic<bool> wakerRunning_{false};
    // Audio thread: the host's context of the block in hand.
    Steinberg::Vst::ProcessContext hostContext_{};
    // What publishEditorSize last wrote; a width of 0 means nothing yet.
    std::int32_t publishedWidth_ = 0;
    std::int32_t publishedHeight_ = 0;
    bool publishedResizable_ = false;
    // What publishLatency last published; the Linux side starts from 0 and 0.
    bool latencyRead_ = false;
    std::uint32_t publishedLatency_ = 0;
    std::uint32_t publishedTail_ = 0;
};

// Entry point behind main(): banner, usage, initialise, run; returns the exit code.
int outpostMain(int argc, char** argv);

}  // namespace Tandem
