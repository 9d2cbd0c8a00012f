// Round trip through the real bridge: host process() -> shared file ->
// outpost.exe under Wine -> the served Quill -> back, for 2 channels, beside
// the same Quill DSP run natively in this process; and the time from
// setActive(true) to audio readiness with a cold and a warm Wine prefix.
//
//   bridge_bench [--json FILE] [--blocks N]
// WINEPREFIX must name a prefix where Quill is installed.
#include "bench_support.h"
#include "e2e_support.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

using namespace bench;
using namespace e2e;

namespace {

// Time from setActive(true) to its return: launch and readiness wait.
double activationSeconds(IPluginFactory* factory) {
    Processor p(factory, 256);
    const auto t0 = Clock::now();
    p.activate(true);
    return nanosSince(t0) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    std::string json;
    int blocks = 100000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--json") json = argv[i + 1];
        if (std::string(argv[i]) == "--blocks") blocks = std::atoi(argv[i + 1]);
    }
    if (!std::getenv("WINEPREFIX")) {
        std::fprintf(stderr, "bridge_bench: set WINEPREFIX to a prefix with Quill installed\n");
        return 2;
    }
    std::ostringstream silenced;
    std::streambuf* console = std::cout.rdbuf(silenced.rdbuf());  // the plug-in's log lines
    BundleModule module;
    if (!module.factory()) {
        std::cout.rdbuf(console);
        std::fprintf(stderr, "bridge_bench: cannot load %s\n", QM_BUNDLE_SO);
        return 1;
    }

    // Readiness: cold (no wineserver running for the prefix), then warm.
    std::system("wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1");
    const double cold = activationSeconds(module.factory());
    const double warm = activationSeconds(module.factory());

    std::vector<Row> rows;
    std::cout.rdbuf(console);
    std::printf("Through the bridge (real outpost and Quill under Wine) and Quill's DSP natively\n");
    printHeader();
    for (int samples : {64, 256, 1024}) {
        std::cout.rdbuf(silenced.rdbuf());
        Processor p(module.factory(), samples);
        p.activate(true);
        StereoBlock block(samples);
        std::vector<double> bridge, native;
        bridge.reserve(blocks);
        native.reserve(blocks);
        long passed = 0;
        for (int b = 0; b < 1000; ++b) p.process(block);  // warm-up
        for (int b = 0; b < blocks; ++b) {
            block.fill(static_cast<long>(b) * samples);
            const auto t0 = Clock::now();
            p.process(block);
            bridge.push_back(nanosSince(t0));
            passed += block.passedThrough();
        }
        QuillModel model(48000.0);
        for (int b = 0; b < blocks; ++b) {
            const auto t0 = Clock::now();
            model.dsp.process(block.inPtrs, block.outPtrs, 2, samples);
            native.push_back(nanosSince(t0));
        }
        std::cout.rdbuf(console);
        rows.push_back({"bridge (Wine)", samples, 2, blocks, summarise(bridge), passed});
        printRow(rows.back());
        rows.push_back({"Quill DSP natively", samples, 2, blocks, summarise(native), -1});
        printRow(rows.back());
        std::cout.rdbuf(silenced.rdbuf());
    }
    std::cout.rdbuf(console);
    std::printf("activation to audio readiness: cold prefix %.3f s, warm prefix %.3f s\n", cold, warm);
    char readiness[128];
    std::snprintf(readiness, sizeof readiness, "  \"readiness_s\": {\"cold\": %.4f, \"warm\": %.4f}", cold, warm);
    if (!json.empty() && !writeJson(json, rows, readiness)) {
        std::fprintf(stderr, "bridge_bench: cannot write %s\n", json.c_str());
        return 1;
    }
    return 0;
}
