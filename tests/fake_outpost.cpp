// Stand-in for Wine + outpost in the plug-in's tests. The plug-in starts it
// as `fake_outpost MODE SHARED_FILE PLUGIN_PATH`, MODE taking the place of
// outpost.exe's path:
//   dump:FILE    write the argument vector and the environment to FILE, exit 0
//   idle         never touch the file; ends on SIGTERM
//   stubborn     like idle, but ignores SIGTERM
//   serve        map the file, report audio readiness, multiply every block
//                by kGain on a spinning audio thread and answer GetState,
//                SetState and Shutdown like outpost
#include "protocol/tandem_protocol.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr float kGain = 0.5f;

int dump(const char* file, int argc, char** argv) {
    FILE* f = std::fopen(file, "w");
    if (!f) return 2;
    for (int i = 0; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
    std::fprintf(f, "--env--\n");
    for (char** e = environ; *e; ++e) std::fprintf(f, "%s\n", *e);
    std::fclose(f);
    return 0;
}

[[noreturn]] void sleepForever() {
    for (;;) pause();
}

int serve(const char* path) {
    int fd = open(path, O_RDWR);
    if (fd < 0) return 1;
    void* base = mmap(nullptr, Tandem::kSharedMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (base == MAP_FAILED) return 1;
    auto* ui = reinterpret_cast<Tandem::UICommand*>(static_cast<char*>(base) + Tandem::kUICommandOffset);
    auto* audio = reinterpret_cast<Tandem::AudioData*>(static_cast<char*>(base) + Tandem::kAudioDataOffset);
    auto* state = reinterpret_cast<Tandem::StateData*>(static_cast<char*>(base) + Tandem::kStateDataOffset);

    std::atomic<bool> running{true};
    std::thread audioThread([&] {
        audio->audioReady.store(1, std::memory_order_relaxed);
        Tandem::fullFence();
        while (running.load(std::memory_order_relaxed)) {
            Tandem::fullFence();
            if (audio->inputReady.load(std::memory_order_relaxed) != 1) {
                Tandem::cpuPause();
                continue;
            }
            const int channels = Tandem::clampCount(audio->numChannels, Tandem::kMaxChannels);
            const int samples = Tandem::clampCount(audio->numSamples, Tandem::kMaxBlockSize);
            for (int c = 0; c < channels; ++c)
                for (int i = 0; i < samples; ++i) audio->outputBuffers[c][i] = audio->inputBuffers[c][i] * kGain;
            audio->inputReady.store(0, std::memory_order_relaxed);
            Tandem::fullFence();
            audio->outputReady.store(1, std::memory_order_relaxed);
            Tandem::fullFence();
        }
    });

    std::vector<std::uint8_t> pluginState{'f', 'a', 'k', 'e'};
    while (running) {
        if (!ui->processed.load(std::memory_order_acquire)) {
            switch (static_cast<Tandem::CommandCode>(ui->command)) {
            case Tandem::CommandCode::Shutdown:
                running = false;
                break;
            case Tandem::CommandCode::GetState:
                std::memcpy(state->stateBuffer, pluginState.data(), pluginState.size());
                state->stateSize = static_cast<std::int32_t>(pluginState.size());
                state->stateReady.store(true, std::memory_order_release);
                break;
            case Tandem::CommandCode::SetState:
                if (state->stateSize > 0 && state->stateSize <= Tandem::kMaxStateSize)
                    pluginState.assign(state->stateBuffer, state->stateBuffer + state->stateSize);
                break;
            default:
                break;
            }
            ui->processed.store(true, std::memory_order_release);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    audioThread.join();
    munmap(base, Tandem::kSharedMemorySize);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 64;
    const std::string mode = argv[1];
    if (mode.rfind("dump:", 0) == 0) return dump(mode.c_str() + 5, argc, argv);
    if (mode == "idle") sleepForever();
    if (mode == "stubborn") {
        std::signal(SIGTERM, SIG_IGN);
        sleepForever();
    }
    if (mode == "serve") return serve(argv[2]);
    return 64;
}
