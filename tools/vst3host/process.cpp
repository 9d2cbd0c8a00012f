// `vst3host process`: a sound file through the effect, block by block, on a
// dedicated audio thread, with a progress bar and a timing summary.
#include "commands.h"
#include "bundle.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Steinberg;

namespace vst3host {

namespace {

// Non-interleaved audio of a whole file.
struct Audio {
    int channels = 0;
    long frames = 0;
    double rate = 0;
    std::vector<std::vector<float>> data;
};

bool readFile(const std::string& path, Audio& audio, std::string& error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        error = "cannot read " + path + ": " + sf_strerror(nullptr);
        return false;
    }
    std::vector<float> interleaved(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    audio.channels = info.channels;
    audio.frames = static_cast<long>(got);
    audio.rate = info.samplerate;
    audio.data.assign(info.channels, std::vector<float>(static_cast<size_t>(got)));
    for (long i = 0; i < got; ++i)
        for (int c = 0; c < info.channels; ++c) audio.data[c][i] = interleaved[static_cast<size_t>(i) * info.channels + c];
    return true;
}

SNDFILE* openOutput(const std::string& path, int channels, double rate, std::string& error) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = static_cast<int>(rate);
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) error = "cannot write " + path + ": " + sf_strerror(nullptr);
    return file;
}

bool writeFile(SNDFILE* file, const Audio& audio) {
    std::vector<float> interleaved(static_cast<size_t>(audio.frames) * audio.channels);
    for (long i = 0; i < audio.frames; ++i)
        for (int c = 0; c < audio.channels; ++c) interleaved[static_cast<size_t>(i) * audio.channels + c] = audio.data[c][i];
    const bool ok = sf_writef_float(file, interleaved.data(), audio.frames) == audio.frames;
    return sf_close(file) == 0 && ok;
}

double percentile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(q * values.size()))];
}

void drawProgress(long done, long total) {
    const int width = 40;
    const int filled = total ? static_cast<int>(width * done / total) : width;
    std::fprintf(stderr, "\r[%.*s%*s] %3ld%%", filled, "########################################", width - filled, "",
                 total ? 100 * done / total : 100);
    std::fflush(stderr);
}

}  // namespace

int processCommand(const ProcessOptions& options) {
    std::string error;
    auto fail = [&](const std::string& message) {
        std::fprintf(stderr, "vst3host: %s\n", message.c_str());
        return 1;
    };
    if (options.block < 1 || options.block > 65536) return fail("--block must be between 1 and 65536");

    Audio input;
    if (!readFile(options.input, input, error)) return fail(error);
    const double rate = options.rate > 0 ? options.rate : input.rate;

    Bundle bundle;
    if (!bundle.load(options.bundle, error)) return fail(error);
    Effect effect;
    if (!effect.create(bundle.factory(), error) || !effect.setup(rate, options.block, error)) return fail(error);
    const int inChannels = std::max(1, effect.mainChannels(Vst::kInput));
    const int outChannels = std::max(1, effect.mainChannels(Vst::kOutput));

    SNDFILE* outFile = openOutput(options.output, outChannels, rate, error);
    if (!outFile) return fail(error);
    if (!options.loadState.empty() && !effect.loadState(options.loadState, error)) {
        sf_close(outFile);
        return fail(error);
    }
    if (!effect.activate(error)) {
        sf_close(outFile);
        return fail(error);
    }

    // The file's channels feed the bus; a mono file feeds every bus channel.
    Audio output;
    output.channels = outChannels;
    output.frames = input.frames;
    output.data.assign(outChannels, std::vector<float>(static_cast<size_t>(input.frames)));
    const long blocks = (input.frames + options.block - 1) / options.block;
    std::vector<double> micros(static_cast<size_t>(blocks));
    // Whether each block came out equal to its input. A block the effect
    // processed can come out equal too (unity gain, an analyser), so this
    // tells changed blocks from equal ones, never processed from skipped.
    std::vector<char> equalToInput(static_cast<size_t>(blocks));
    std::atomic<long> done{0};

    std::thread audioThread([&] {
        std::vector<float*> in(inChannels), out(outChannels);
        std::vector<std::vector<float>> inBuffers(inChannels, std::vector<float>(options.block));
        Vst::AudioBusBuffers inBus{}, outBus{};
        inBus.numChannels = inChannels;
        outBus.numChannels = outChannels;
        inBus.channelBuffers32 = in.data();
        outBus.channelBuffers32 = out.data();
        const auto blockTime = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(options.block / rate));
        auto due = std::chrono::steady_clock::now();
        for (long b = 0; b < blocks; ++b) {
            if (options.realtime) {
                due += blockTime;
                std::this_thread::sleep_until(due);
            }
            const long start = b * options.block;
            const int n = static_cast<int>(std::min<long>(options.block, input.frames - start));
            for (int c = 0; c < inChannels; ++c) {
                const auto& source = input.data[std::min(c, input.channels - 1)];
                std::copy_n(source.begin() + start, n, inBuffers[c].begin());
                in[c] = inBuffers[c].data();
            }
            for (int c = 0; c < outChannels; ++c) out[c] = output.data[c].data() + start;
            Vst::ProcessData data{};
            data.processMode = Vst::kRealtime;
            data.symbolicSampleSize = Vst::kSample32;
            data.numSamples = n;
            data.numInputs = data.numOutputs = 1;
            data.inputs = &inBus;
            data.outputs = &outBus;
            const auto t0 = std::chrono::steady_clock::now();
            effect.processor->process(data);
            micros[b] = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
            bool same = true;
            for (int c = 0; c < std::min(inChannels, outChannels) && same; ++c)
                same = std::memcmp(in[c], out[c], sizeof(float) * n) == 0;
            equalToInput[b] = same;
            done.store(b + 1, std::memory_order_release);
        }
    });
    const bool terminal = ::isatty(STDERR_FILENO);
    while (done.load(std::memory_order_acquire) < blocks) {
        if (terminal) drawProgress(done.load(), blocks);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    audioThread.join();
    if (terminal) {
        drawProgress(blocks, blocks);
        std::fputc('\n', stderr);
    }

    if (!writeFile(outFile, output)) return fail("cannot write " + options.output);

    const long changed = std::count(equalToInput.begin(), equalToInput.end(), 0);
    const double budget = 1e6 * options.block / rate;
    const long misses = std::count_if(micros.begin(), micros.end(), [&](double t) { return t > budget; });
    std::printf("blocks: %ld (%d samples at %g Hz)\n", blocks, options.block, rate);
    std::printf("changed by the plug-in: %ld, equal to the input: %ld\n", changed, blocks - changed);
    std::printf("per-block time: median %.1f us, p99 %.1f us, max %.1f us (budget %.1f us)\n",
                percentile(micros, 0.5), percentile(micros, 0.99), percentile(micros, 1.0), budget);
    std::printf("deadline misses: %ld\n", misses);
    std::printf("wrote %s\n", options.output.c_str());
    if (!options.saveState.empty()) {
        if (!effect.saveState(options.saveState, error)) return fail(error);
        std::printf("saved state to %s\n", options.saveState.c_str());
    }
    return 0;
}

}  // namespace vst3host
