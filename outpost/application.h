// outpost's application: maps the shared file, loads the served plug-in,
// runs its audio on a spinning thread and serves the commands the Linux
// plug-in posts.
#pragma once

#include "protocol/tandem_protocol.h"
#include "plugin_instance.h"
#include "vst3_loader.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace Tandem {

class OutpostApplication {
public:
    OutpostApplication(std::string sharedMemoryName, std::string vst3Path);
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

    void audioThreadFunc();
    void processAudioData();
    void stopAudioThread();

    // The file mapping itself (platform code), which hands the mapped view
    // to useView and takes it back with forgetView.
    bool mapSharedFile();
    void unmapSharedFile();
    void useView(void* view);
    void forgetView();

    std::string sharedMemoryName_;
    std::string vst3Path_;
    bool running_ = false;
    std::atomic<bool> audioThreadRunning_{false};
    std::thread audioThread_;
    void* fileHandle_;
    UICommand* uiCommand_ = nullptr;
    AudioData* audioData_ = nullptr;
    StateData* stateData_ = nullptr;
    VST3Loader loader_;
    std::unique_ptr<PluginInstance> plugin_;
    // What publishEditorSize last wrote; a width of 0 means nothing yet.
    std::int32_t publishedWidth_ = 0;
    std::int32_t publishedHeight_ = 0;
    bool publishedResizable_ = false;
};

// Entry point behind main(): banner, usage, initialise, run; returns the exit code.
int outpostMain(int argc, char** argv);

}  // namespace Tandem
