#include "application.h"

#include <chrono>
#include <cstring>
#include <iostream>

namespace Tandem {

namespace {

void* const kNoFile = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));

void acknowledge(UICommand* ui) {
    ui->processed.store(true, std::memory_order_release);
}

}  // namespace

OutpostApplication::OutpostApplication(std::string sharedMemoryName, std::string vst3Path)
    : sharedMemoryName_(std::move(sharedMemoryName)), vst3Path_(std::move(vst3Path)), fileHandle_(kNoFile) {}

OutpostApplication::~OutpostApplication() {
    stopAudioThread();
    plugin_.reset();
    running_ = false;
    unmapSharedFile();
}

void OutpostApplication::useView(void* view) {
    const Regions regions = regionsAt(view);
    uiCommand_ = regions.uiCommand;
    audioData_ = regions.audioData;
    stateData_ = regions.stateData;
}

void OutpostApplication::forgetView() {
    uiCommand_ = nullptr;
    audioData_ = nullptr;
    stateData_ = nullptr;
}

void OutpostApplication::stopAudioThread() {
    if (!audioThreadRunning_) return;
    audioThreadRunning_ = false;
    if (audioThread_.joinable()) audioThread_.join();
    std::cout << "[Outpost] Audio thread joined" << std::endl;
}

bool OutpostApplication::initialize() {
    std::cout << "[Outpost] Initializing..." << std::endl;
    std::cout << "[Outpost] Shared memory: " << sharedMemoryName_ << std::endl;
    std::cout << "[Outpost] VST3 path: " << vst3Path_ << std::endl;

    if (!mapSharedFile()) {
        std::cerr << "[Outpost] Failed to open shared memory" << std::endl;
        return false;
    }
    std::cout << "[Outpost] Memory-mapped file opened successfully" << std::endl;

    // A Windows host's user-interface thread is ready before any plug-in loads.
    hostThread_.enter();

    std::cout << "[Outpost] Loading VST3 plugin: " << vst3Path_ << std::endl;
    if (!loader_.load(vst3Path_)) {
        std::cerr << "[Outpost] Failed to load VST3 plugin" << std::endl;
        std::cerr << "[Outpost] Failed to load VST3 plugin" << std::endl;
        return false;
    }
    std::cout << "[Outpost] VST3 plugin loaded successfully!" << std::endl;
    std::cout << "[Outpost] Factory: " << static_cast<void*>(loader_.factory()) << std::endl;

    plugin_ = std::make_unique<PluginInstance>(loader_.factory());
    if (!plugin_->createInstance()) {
        std::cerr << "[Outpost] Failed to create plugin instance" << std::endl;
        std::cerr << "[Outpost] Failed to load VST3 plugin" << std::endl;
        return false;
    }
    std::cout << "[Outpost] Plugin instance created successfully!" << std::endl;
    std::cout << "[Outpost] Window will be created on ShowEditor command" << std::endl;

    running_ = true;

    if (audioData_ && plugin_ && audioData_->sampleRate > 0.0) {
        std::cout << "[Outpost] Pre-initializing audio..." << std::endl;
        if (plugin_->setupAudio(audioData_->sampleRate, kMaxBlockSize))
            std::cout << "[Outpost] Audio pre-initialized successfully" << std::endl;
        else
            std::cerr << "[Outpost] Audio pre-initialization failed" << std::endl;
    }

    if (!audioThreadRunning_) {
        audioThreadRunning_ = true;
        audioThread_ = std::thread(&OutpostApplication::audioThreadFunc, this);
        std::cout << "[Outpost] Audio thread launched" << std::endl;
    }
    std::cout << "[Outpost] Initialized successfully" << std::endl;
    return true;
}

void OutpostApplication::run() {
    std::cout << "[Outpost] Running main loop (UI only - audio in dedicated thread)..." << std::endl;
    for (long n = 0; running_; ++n) {
        if (n % 1000 == 0) std::cout << "[Outpost] UI Loop " << n << std::endl;
        if (plugin_) {
            plugin_->processMessages();
            plugin_->serviceParameters();
            // Tells the Linux side that the project changed.
            if (uiCommand_)
                uiCommand_->editCount.store(static_cast<std::int32_t>(plugin_->changeCount()), std::memory_order_relaxed);
        }
        if (uiCommand_ && !uiCommand_->processed.load(std::memory_order_acquire)) {
            std::cout << "[Outpost] *** COMMAND RECEIVED: " << uiCommand_->command << " ***" << std::endl;
            processUICommand();
        }
        HostThread::waitForMessages(std::chrono::milliseconds(10));
    }
    stopAudioThread();
    std::cout << "[Outpost] Main loop ended" << std::endl;
}

void OutpostApplication::processUICommand() {
    UICommand* ui = uiCommand_;
    switch (static_cast<CommandCode>(ui->command)) {
    case CommandCode::Shutdown:
        std::cout << "[Outpost] Received Shutdown command - stopping" << std::endl;
        running_ = false;
        stopAudioThread();
        break;

    case CommandCode::ShowEditor: {
        std::cout << "[Outpost] Received ShowEditor command" << std::endl;
        std::cout << "[Outpost] Parent X11 window: 0x" << std::hex << ui->parentWindow << std::dec << std::endl;
        if (!plugin_) {
            ui->wineWindow = 0;
            break;
        }
        std::cout << "[Outpost] Using EMBEDDED WINDOW mode (X11 reparenting)" << std::endl;
        if (!plugin_->hasWindow()) {
            std::cout << "[Outpost] Creating window for first time (embedding=" << true << ")..." << std::endl;
            if (!plugin_->createWindow(true)) {
                std::cerr << "[Outpost] Failed to create window!" << std::endl;
                ui->wineWindow = 0;
                break;
            }
            std::cout << "[Outpost] Attempting to create plugin editor..." << std::endl;
            plugin_->createEditor();
        }
        const std::uint64_t id = plugin_->getX11WindowId();
        ui->wineWindow = id;
        ui->editorWidth = plugin_->width();
        ui->editorHeight = plugin_->height();
        std::cout << "[Outpost] Sending X11 window ID: 0x" << std::hex << id << std::dec << std::endl;
        std::cout << "[Outpost] Editor size: " << plugin_->width() << "x" << plugin_->height() << std::endl;
        std::cout << "[Outpost] Embedding mode - Linux plugin will handle reparenting" << std::endl;
        plugin_->showWindow();
        break;
    }

    case CommandCode::HideEditor:
        std::cout << "[Outpost] Received HideEditor command" << std::endl;
        if (plugin_) plugin_->hideWindow();
        ui->wineWindow = 0;
        break;

    case CommandCode::GetState:
        std::cout << "[Outpost] Received GetState command" << std::endl;
        // The state must hold every edit made so far.
        flushEditsToProcessor();
        if (plugin_) {
            const std::int32_t n = plugin_->getState(stateData_->stateBuffer, kMaxStateSize);
            stateData_->stateSize = n;
            stateData_->stateReady.store(true, std::memory_order_release);
            std::cout << "[Outpost] State saved: " << n << " bytes" << std::endl;
        } else {
            stateData_->stateSize = 0;
            stateData_->stateReady.store(true, std::memory_order_release);
        }
        break;

    case CommandCode::SetState: {
        std::cout << "[Outpost] Received SetState command" << std::endl;
        // The size comes from the other process: one beyond the buffer is no state.
        const std::int32_t size = stateData_->stateSize;
        if (plugin_ && size > 0 && size <= kMaxStateSize) {
            // Edits made before the restore must not land on top of it.
            flushEditsToProcessor();
            const bool ok = plugin_->setState(stateData_->stateBuffer, size);
            std::cout << "[Outpost] State restored: " << (ok ? "OK" : "FAILED") << std::endl;
        }
        break;
    }

    default:
        break;
    }
    acknowledge(ui);
}

bool OutpostApplication::flushEditsToProcessor() {
    if (!plugin_ || !plugin_->hasPendingEdits()) return true;
    if (!audioThreadRunning_.load(std::memory_order_relaxed)) {
        std::cerr << "[Outpost] Edits pending but no audio thread to deliver them" << std::endl;
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
                std::cerr << "[Outpost] Audio thread did not deliver pending edits in time" << std::endl;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (plugin_->hasPendingEdits()) {
        std::cerr << "[Outpost] Edits still pending: the processor is not processing" << std::endl;
        return false;
    }
    std::cout << "[Outpost] Pending edits delivered to the processor" << std::endl;
    return true;
}

void OutpostApplication::wakeAudioThread() {
    // Empty while the audio thread polls its flags without ever sleeping;
    // an audio thread that sleeps while no blocks come wakes up here.
}

void OutpostApplication::audioThreadFunc() {
    std::cout << "[Outpost] Audio thread started" << std::endl;
    if (audioData_) {
        audioData_->audioReady.store(1, std::memory_order_relaxed);
        fullFence();
        std::cout << "[Outpost] Audio ready signaled to Linux plugin" << std::endl;
    }

    std::int32_t blocks = 0;
    std::int32_t idlePolls = 0;
    bool warned = false;
    for (;;) {
        if (!audioThreadRunning_.load(std::memory_order_relaxed)) {
            std::cout << "[Outpost] Audio thread stopped (processed " << blocks << " blocks)" << std::endl;
            return;
        }
        if (flushRequested_.load(std::memory_order_acquire)) {
            if (plugin_) plugin_->flushParameterChanges();
            flushRequested_.store(false, std::memory_order_release);
        }
        if (audioData_) {
            fullFence();
            if (audioData_->inputReady.load(std::memory_order_relaxed) == 1) {
                ++blocks;
                if (blocks <= 10 || blocks % 10000 == 0)
                    std::cout << "[Outpost-Audio] Processing block " << blocks << " (samples="
                              << audioData_->numSamples << ")" << std::endl;
                processAudioData();
                idlePolls = 0;
                continue;
            }
        }
        ++idlePolls;
        if (idlePolls % 64 == 0) cpuPause();
        if (blocks == 0 && !warned && idlePolls > 1000000) {
            std::cout << "[Outpost-Audio] Still waiting for first audio block..." << std::endl;
            warned = true;
        }
    }
}

void OutpostApplication::processAudioData() {
    if (!plugin_ || !audioData_) return;
    static std::int32_t audioBlockCount = 0;
    if (++audioBlockCount % 50000 == 0) std::cout << "[Outpost] Audio block " << audioBlockCount << std::endl;

    // The counts come from the other process: never trust them as bounds.
    const std::int32_t samples = clampCount(audioData_->numSamples, kMaxBlockSize);
    const std::int32_t channels = clampCount(audioData_->numChannels, kMaxChannels);

    bool ready = plugin_->isAudioSetup();
    if (!ready) {
        std::cout << "[Outpost] Setting up audio processing..." << std::endl;
        ready = plugin_->setupAudio(audioData_->sampleRate, kMaxBlockSize);
        if (ready) {
            std::cout << "[Outpost] Audio processing ready!" << std::endl;
        } else {
            std::cerr << "[Outpost] Failed to setup audio!" << std::endl;
            for (std::int32_t c = 0; c < channels; ++c)
                std::memcpy(audioData_->outputBuffers[c], audioData_->inputBuffers[c], sizeof(float) * samples);
        }
    }
    if (ready) plugin_->processAudio(&audioData_->inputBuffers[0][0], &audioData_->outputBuffers[0][0], samples, channels);

    audioData_->inputReady.store(0, std::memory_order_relaxed);
    fullFence();
    audioData_->outputReady.store(1, std::memory_order_relaxed);
    fullFence();
}

int outpostMain(int argc, char** argv) {
    std::cout << "=== Tandem Host ===" << std::endl;
    std::cout << "Version: 0.1.0 MVP" << std::endl;
    if (argc < 3) {
        std::cerr << "Usage: " << argv[0] << " <shared_memory_name> <vst3_path>" << std::endl;
        std::cerr << "Example: " << argv[0] << " /tandem_12345 \"C:\\\\Program Files\\\\VST3\\\\Quill.vst3\"" << std::endl;
        return 1;
    }
    OutpostApplication app(argv[1], argv[2]);
    if (!app.initialize()) {
        std::cerr << "[Outpost] Initialization failed" << std::endl;
        return 1;
    }
    std::cout << "[Outpost] Running... (press Ctrl+C to stop or wait for Shutdown command)" << std::endl;
    app.run();
    std::cout << "[Outpost] Exiting cleanly" << std::endl;
    return 0;
}

}  // namespace Tandem
