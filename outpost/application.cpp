#include "application.h"

#include "chain_file.h"
#include "linux_calls.h"
#include "next_to_host.h"
#include "protocol/command_post.h"
#include "protocol/editor_size.h"
#include "protocol/file_regions.h"
#include "protocol/handshake.h"
#include "protocol/host_context.h"

#include <chrono>
#include <cstring>

namespace Tandem {

OutpostApplication::OutpostApplication(std::string sharedMemoryName, std::string vst3Path, std::string classId)
    : sharedMemoryName_(std::move(sharedMemoryName)),
      vst3Path_(std::move(vst3Path)),
      classId_(std::move(classId)) {}

OutpostApplication::~OutpostApplication() {
    stopAudioThread();
    stopWaker();
    midi_.reset();
    parameters_.reset();
    plugin_.reset();
    running_ = false;
    forgetView();
    file_.close();
}

void OutpostApplication::useView(void* view) {
    const Regions regions = regionsAt(view);
    uiCommand_ = regions.uiCommand;
    audioData_ = regions.audioData;
    stateData_ = regions.stateData;
    session_ = regions.session;
    parameterData_ = regions.parameters;
    busData_ = regions.buses;
    eventData_ = regions.events;
}

void OutpostApplication::forgetView() {
    uiCommand_ = nullptr;
    audioData_ = nullptr;
    stateData_ = nullptr;
    session_ = nullptr;
    parameterData_ = nullptr;
    busData_ = nullptr;
    eventData_ = nullptr;
}

void OutpostApplication::stopAudioThread() {
    if (!audioThreadRunning_) return;
    audioThreadRunning_ = false;
    wakeAudioThread();
    if (audioThread_.joinable()) audioThread_.join();
    logInfo() << "[Outpost] Audio thread joined";
}

bool OutpostApplication::initialize() {
    logInfo() << "[Outpost] Initializing...";
    logInfo() << "[Outpost] Shared memory: " << sharedMemoryName_;
    logInfo() << "[Outpost] VST3 path: " << vst3Path_;

    // Held while this application lives: while it is, a starting instance's
    // clean-up of /tmp leaves the file alone (protocol/file_hold.h).
    if (linuxCallsUsable()) {
        const std::int64_t held = sharedHold_.take(sharedMemoryName_.c_str());
        if (held < 0) logError() << "[Outpost] Could not hold " << sharedMemoryName_ << " (" << held << ")";
    }
    if (!file_.open(sharedMemoryName_)) {
        logError() << "[Outpost] Failed to open shared memory";
        return false;
    }
    useView(file_.base());
    logInfo() << "[Outpost] Memory-mapped file opened successfully";
    if (!acceptSessionRegion()) return false;
    // Locked (and so read in) now, the file costs the audio thread no page
    // fault; without the lock it still works, with a fault now and then.
    std::int64_t locked = lockInMemory(uiCommand_, kAudioPartSize);
    for (const LockedRange& range : kLockedBusRanges)
        if (locked == 0) locked = lockInMemory(reinterpret_cast<unsigned char*>(uiCommand_) + range.offset, range.size);
    if (locked != 0)
        logError() << "[Outpost] Could not lock the shared file in memory (" << locked << "); audio may page-fault";

    linuxCalls_ = linuxCallsUsable();
    hostPid_ = linuxParentPid();
    if (linuxCalls_) chain_ = openChainPlace(*session_);
    if (!linuxCalls_)
        logInfo() << "[Outpost] Linux system calls unavailable: the audio thread spins between blocks and the "
                     "host's exit is not watched";

    // A Windows host's user-interface thread is ready before any plug-in loads.
    hostThread_.enter();

    logInfo() << "[Outpost] Loading VST3 plugin: " << vst3Path_;
    if (!loader_.load(vst3Path_)) {
        logError() << "[Outpost] Failed to load VST3 plugin";
        logError() << "[Outpost] Failed to load VST3 plugin";
        return false;
    }
    logInfo() << "[Outpost] VST3 plugin loaded successfully!";
    logInfo() << "[Outpost] Factory: " << static_cast<void*>(loader_.factory());

    plugin_ = std::make_unique<PluginInstance>(loader_.factory(), classId_);
    if (!plugin_->createInstance()) {
        logError() << "[Outpost] Failed to create plugin instance";
        logError() << "[Outpost] Failed to load VST3 plugin";
        return false;
    }
    logInfo() << "[Outpost] Plugin instance created successfully!";
    logInfo() << "[Outpost] Window will be created on ShowEditor command";
    // The host lists the buses and parameters long before it activates anything.
    startBuses();
    startParameters();

    running_ = true;
    startWaker();
    // The served processor is set up and activated when the host activates
    // its instance (the Activate command), with the host's setup.

    if (!audioThreadRunning_) {
        audioThreadRunning_ = true;
        audioThread_ = std::thread(&OutpostApplication::audioThreadFunc, this);
        logInfo() << "[Outpost] Audio thread launched";
    }
    logInfo() << "[Outpost] Initialized successfully";
    return true;
}

void OutpostApplication::run() {
    logInfo() << "[Outpost] Running main loop (UI only - audio in dedicated thread)...";
    for (long n = 0; running_; ++n) {
        if (n % 1000 == 0) logInfo() << "[Outpost] UI Loop " << n;
        if (n % 10 == 0 && hostGone()) {
            leaveForGoneHost();
            break;
        }
        if (plugin_) {
            plugin_->editor().processMessages();
            plugin_->serviceParameters();
            serviceParameterRegion();
            // Tells the Linux side that the project changed.
            if (uiCommand_)
                uiCommand_->editCount.store(static_cast<std::int32_t>(plugin_->changeCount()), std::memory_order_relaxed);
        }
        // The served editor may have asked its frame for another size.
        publishEditorSize();
        relayOtherRestarts();
        publishLatency(false);
        if (uiCommand_ && commandWaiting(*uiCommand_)) {
            logInfo() << "[Outpost] *** COMMAND RECEIVED: " << uiCommand_->command << " ***";
            processUICommand();
        }
        // An open editor needs its messages every 10 ms; without one, a
        // slower turn keeps an idle outpost cheap (each turn asks Wine's
        // server for messages) and commands still start within 50 ms. A
        // message that comes wakes the wait at once.
        hostThread_.waitForMessages(std::chrono::milliseconds(editorShown_ ? 10 : 50));
    }
    stopAudioThread();
    stopWaker();
    logInfo() << "[Outpost] Main loop ended";
}

void OutpostApplication::processUICommand() {
    UICommand* ui = uiCommand_;
    switch (static_cast<CommandCode>(ui->command)) {
    case CommandCode::Shutdown:
        logInfo() << "[Outpost] Received Shutdown command - stopping";
        running_ = false;
        stopAudioThread();
        break;

    case CommandCode::ShowEditor: {
        logInfo() << "[Outpost] Received ShowEditor command";
        logInfo() << "[Outpost] Parent X11 window: 0x" << std::hex << ui->parentWindow;
        if (!plugin_) {
            ui->wineWindow = 0;
            break;
        }
        logInfo() << "[Outpost] Using EMBEDDED WINDOW mode (X11 reparenting)";
        if (!plugin_->editor().hasWindow()) {
            logInfo() << "[Outpost] Creating window for first time (embedding=" << true << ")...";
            if (!plugin_->editor().createWindow(true)) {
                logError() << "[Outpost] Failed to create window!";
                ui->wineWindow = 0;
                break;
            }
            logInfo() << "[Outpost] Attempting to create plugin editor...";
            plugin_->editor().create();
        }
        const std::uint64_t id = plugin_->editor().x11WindowId();
        ui->wineWindow = id;
        publishEditorSize();
        logInfo() << "[Outpost] Sending X11 window ID: 0x" << std::hex << id;
        logInfo() << "[Outpost] Editor size: " << plugin_->editor().width() << "x" << plugin_->editor().height();
        logInfo() << "[Outpost] Embedding mode - Linux plugin will handle reparenting";
        plugin_->editor().show();
        editorShown_ = true;
        break;
    }

    case CommandCode::HideEditor:
        logInfo() << "[Outpost] Received HideEditor command";
        if (plugin_) plugin_->editor().hide();
        editorShown_ = false;
        ui->wineWindow = 0;
        break;

    case CommandCode::CheckEditorSize:
    case CommandCode::ResizeEditor:
        handleEditorSizeCommand(static_cast<CommandCode>(ui->command));
        break;

    case CommandCode::PrepareEditor:
        logInfo() << "[Outpost] Received PrepareEditor command";
        if (plugin_ && plugin_->editor().prepare()) publishEditorSize();
        ui->parentWindow = plugin_ && plugin_->hasEditor() ? packEditorSize(plugin_->editor().width(), plugin_->editor().height()) : 0;
        break;

    case CommandCode::SetContentScale: {
        const std::uint64_t packed = ui->parentWindow;
        logInfo() << "[Outpost] Received SetContentScale command: " << packed << "/1000";
        const bool taken = plugin_ && plausibleContentScale(packed) && plugin_->editor().setContentScale(packedContentScale(packed));
        if (taken) publishEditorSize();
        ui->parentWindow = taken ? 1 : 0;
        break;
    }

    case CommandCode::GetLatency:
        logInfo() << "[Outpost] Received GetLatency command";
        publishLatency(true);
        ui->parentWindow = packLatency(publishedLatency_, publishedTail_);
        break;

    case CommandCode::Activate:
        handleActivate();
        break;

    case CommandCode::Deactivate:
        handleDeactivate();
        break;

    case CommandCode::GetState:
    case CommandCode::SetState:
    case CommandCode::GetControllerState:
    case CommandCode::SetControllerState:
        handleStateCommand(static_cast<CommandCode>(ui->command));
        break;

    default:
        handleBusCommand(ui->command);
        break;
    }
    acknowledgeCommand(*ui);
}

void OutpostApplication::publishEditorSize() {
    if (!uiCommand_ || !plugin_ || (!plugin_->editor().hasWindow() && !plugin_->hasEditor())) return;
    const std::int32_t width = plugin_->editor().width(), height = plugin_->editor().height();
    const bool resizable = plugin_->editor().resizable();
    if (width == publishedWidth_ && height == publishedHeight_ && resizable == publishedResizable_) return;
    writeEditorSize(*uiCommand_, width, height, resizable);
    publishedWidth_ = width;
    publishedHeight_ = height;
    publishedResizable_ = resizable;
    logInfo() << "[Outpost] Editor size reported: " << width << "x" << height
              << (resizable ? " (resizable)" : "");
}

void OutpostApplication::publishLatency(bool readAgain) {
    if (!uiCommand_ || !plugin_) return;
    const bool announced = plugin_->takeLatencyAnnouncement();
    if (latencyRead_ && !announced && !readAgain) return;
    std::uint32_t latency = 0, tail = 0;
    if (!plugin_->readLatency(latency, tail)) return;
    latencyRead_ = true;
    if (latency == publishedLatency_ && tail == publishedTail_) return;
    publishedLatency_ = latency;
    publishedTail_ = tail;
    const std::uint8_t previous = uiCommand_->latencyReport.load(std::memory_order_relaxed);
    uiCommand_->latencyReport.store(static_cast<std::uint8_t>(previous + 1), std::memory_order_release);
    logInfo() << "[Outpost] Latency reported: " << latency << " samples, tail " << tail << " samples";
}

void OutpostApplication::handleEditorSizeCommand(CommandCode code) {
    UICommand* ui = uiCommand_;
    std::int32_t width = packedEditorWidth(ui->parentWindow);
    std::int32_t height = packedEditorHeight(ui->parentWindow);
    const bool resize = code == CommandCode::ResizeEditor;
    logInfo() << "[Outpost] Received " << (resize ? "ResizeEditor" : "CheckEditorSize") << " command: " << width
              << "x" << height;
    // The size comes from the other process: an implausible one is not
    // handed to the plug-in.
    bool done = false;
    if (plugin_ && plausibleEditorSize(width, height))
        done = resize ? plugin_->editor().resize(width, height) : plugin_->editor().constrainSize(width, height);
    if (!done || !plausibleEditorSize(width, height)) {
        width = plugin_ ? plugin_->editor().width() : 0;
        height = plugin_ ? plugin_->editor().height() : 0;
    }
    ui->parentWindow = packEditorSize(width, height);
    if (resize) publishEditorSize();
}

bool OutpostApplication::hostGone() const {
    return hostPid_ > 0 && linuxParentPid() != hostPid_;
}

// The host died without stopping us (a crash, SIGKILL): nobody else will
// remove the shared file, and nobody needs us any more.
void OutpostApplication::leaveForGoneHost() {
    logError() << "[Outpost] Host process " << hostPid_ << " is gone: removing " << sharedMemoryName_
               << " and exiting";
    if (!removeLinuxFile(sharedMemoryName_)) logError() << "[Outpost] Failed to remove " << sharedMemoryName_;
    // So is the host's chain file (each of its outposts tries; one succeeds).
    if (chain_.linked()) removeLinuxFile(chainFilePath(session_->chainOwner));
    running_ = false;
}

bool OutpostApplication::flushEditsToProcessor() {
    if (!plugin_ || !plugin_->hasPendingEdits()) return true;
    if (!audioThreadRunning_.load(std::memory_order_relaxed)) {
        logError() << "[Outpost] Edits pending but no audio thread to deliver them";
        return false;
    }
    // Edits kept aside while the queue was full go in over several rounds,
    // all within a time well inside the Linux side's wait for the state.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int round = 0; round < 16 && plugin_->hasPendingEdits(); ++round) {
        plugin_->serviceParameters();
        flushRequested_.store(true, std::memory_order_release);
        wakeAudioThread();
        while (flushRequested_.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() > deadline) {
                logError() << "[Outpost] Audio thread did not deliver pending edits in time";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (plugin_->hasPendingEdits()) {
        logError() << "[Outpost] Edits still pending: the processor is not processing";
        return false;
    }
    logInfo() << "[Outpost] Pending edits delivered to the processor";
    return true;
}

// The audio thread may sleep on inputReady while no blocks come, or on its
// chain slot.
void OutpostApplication::wakeAudioThread() {
    if (linuxCalls_ && audioData_) futexWake(&audioData_->inputReady);
    if (chain_.linked()) nudge(chain_.own());
}

void OutpostApplication::audioThreadFunc() {
    logFromAudio("[Outpost] Audio thread started");
    if (!audioData_) return;
    AudioData& audio = *audioData_;
    audio.outpostCanWake.store(linuxCalls_ ? 1 : 0, std::memory_order_relaxed);
    audio.audioReady.store(1, std::memory_order_relaxed);
    fullFence();
    logFromAudio("[Outpost] Audio ready signaled to Linux plugin");

    bool realTime = false;
    if (linuxCalls_) {
        const std::int64_t priority = preferPromptWakeUps();
        realTime = priority == 0;
        if (priority == 0)
            logFromAudio("[Outpost] Audio thread at real-time priority");
        else
            logFromAudio("[Outpost] Audio thread at normal priority (real-time refused: %lld)",
                         static_cast<long long>(priority));
    }
    std::int32_t blocks = 0;
    bool warned = false;
    BlockRhythm rhythm;
    // The main thread asks for a 0-sample process() to deliver edits while
    // no blocks come.
    auto serviceFlush = [this] {
        if (!flushRequested_.load(std::memory_order_acquire)) return;
        if (plugin_) plugin_->flushParameterChanges();
        flushRequested_.store(false, std::memory_order_release);
    };
    // Asked each time a spin window passes without a block.
    auto idle = [&] {
        if (!audioThreadRunning_.load(std::memory_order_relaxed)) return false;
        followProcessing();
        serviceFlush();
        if (blocks == 0 && !warned) {
            logFromAudio("[Outpost-Audio] Still waiting for first audio block...");
            warned = true;
        }
        return true;
    };
    // Set by the Linux side when its instance runs right behind another.
    const std::atomic<std::uint8_t>* follows = uiCommand_ ? &uiCommand_->followsAnother : nullptr;
    ChainPlace place = chain_;
    place.follows = follows;
    NextToHost nextToHost;
    // The outposts of a chain take turns on the CPUs their host thread does
    // not post from (each block names it): a woken follower spins there at
    // real-time priority without keeping a host thread at normal priority
    // from posting, and finds the CPU already awake, the outpost ahead of it
    // working there or just done. An instance alone stays where the kernel
    // puts it. Changed only when that CPU changes.
    int keptOff = -1;
    // In spin-only mode the thread never sleeps between blocks; at a
    // real-time priority it would keep every normal process (the host among
    // them) off its core until the kernel throttles it. It runs at the
    // normal priority for as long as that mode lasts (and never moves). A
    // switch the kernel refuses is not tried again: no system call per block.
    bool atRealTime = realTime;
    auto fitPriority = [&] {
        const bool spinOnly = audio.spinOnly.load(std::memory_order_relaxed) != 0;
        if (!realTime || spinOnly != atRealTime) return;
        if ((spinOnly ? leaveRealTime() : preferPromptWakeUps()) == 0)
            atRealTime = !spinOnly;
        else
            realTime = false;
    };
    for (fitPriority(); audioThreadRunning_.load(std::memory_order_relaxed) &&
                        waitForBlock(audio, linuxCalls_, idle, kIdleSlice, &rhythm, &place);
         fitPriority()) {
        serviceFlush();
        ++blocks;
        if (blocks <= 10 || blocks % 10000 == 0)
            logFromAudio("[Outpost-Audio] Processing block %d (samples=%d)", blocks, audio.numSamples);
        processAudioData();
        const int hostCpu = uiCommand_ ? uiCommand_->hostCpu.load(std::memory_order_relaxed) - 1 : -1;
        if (place.linked()) {
            const int off = atRealTime && place.inChain() ? hostCpu : -1;
            if (off != keptOff) {
                keepOffCpu(off);
                keptOff = off;
            }
        } else if (atRealTime && place.following()) {
            if (nextToHost.shouldMove(hostCpu, currentCpu())) moveOntoCpu(hostCpu);
        }
    }
    logFromAudio("[Outpost] Audio thread stopped (processed %d blocks)", blocks);
}

void OutpostApplication::processAudioData() {
    if (!plugin_ || !audioData_) return;
    static std::int32_t audioBlockCount = 0;
    if (++audioBlockCount % 50000 == 0) logFromAudio("[Outpost] Audio block %d", audioBlockCount);

    // The counts come from the other process: never trust them as bounds.
    const std::int32_t samples = clampCount(audioData_->numSamples, kMaxBlockSize);
    const std::int32_t channels = clampCount(audioData_->numChannels, kMaxChannels);

    // What the host gave with this block; a served processor that is not
    // active (the host has not activated it yet) leaves the block as it came.
    HostBlock host;
    host.processing = session_->processing.load(std::memory_order_acquire) != 0;
    host.processMode = session_->blockMode;
    host.context = loadHostContext(*session_, hostContext_);
    host.inputSilenceFlags = session_->inputSilenceFlags;
    BlockParameters& points = parameterData_->block;
    host.inputPoints = points.input;
    host.inputPointCount = points.inputCount;
    host.holdEdits = parameterData_->request.hostListens.load(std::memory_order_relaxed) == 1;
    host.outputPoints = points.output;
    host.inputEvents = &eventData_->input;
    host.outputEvents = &eventData_->output;
    if (busData_->block.pools == 1)
        processBusBlock(samples, host);
    else
        plugin_->processAudio(&audioData_->inputBuffers[0][0], &audioData_->outputBuffers[0][0], samples, channels,
                              &host);
    // Written only when they change: the lines are the Linux side's too.
    writeIfChanged(session_->outputSilenceFlags, host.outputSilenceFlags);
    writeIfChanged(points.outputCount, host.outputPointCount);

    finishBlock(*audioData_);
}

int outpostMain(int argc, char** argv) {
    logInfo() << "=== Tandem Host ===";
    logInfo() << "Version: 0.1.0 MVP";
    // Two arguments serve the fixed plug-in; a made bundle adds the module
    // file and the class to serve, which replace it.
    if (argc < 3 || argc == 4) {
        logError() << "Usage: " << argv[0] << " <shared_memory_name> <vst3_path>";
        logError() << "       " << argv[0] << " <shared_memory_name> <vst3_path> <module_path> <class_id>";
        logError() << "Example: " << argv[0] << " /tandem_12345 \"C:\\\\Program Files\\\\VST3\\\\Quill.vst3\"";
        return 1;
    }
    OutpostApplication app(argv[1], argc >= 5 ? argv[3] : argv[2], argc >= 5 ? argv[4] : "");
    if (!app.initialize()) {
        logError() << "[Outpost] Initialization failed";
        return 1;
    }
    logInfo() << "[Outpost] Running... (press Ctrl+C to stop or wait for Shutdown command)";
    app.run();
    logInfo() << "[Outpost] Exiting cleanly";
    return 0;
}

}  // namespace Tandem
