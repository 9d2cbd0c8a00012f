// wavepicture BEFORE.wav AFTER.wav OUT.png: draws the first channel of both
// files as waveforms (before in blue, after in red) and a short zoomed
// window of each, so that a change of level and tone is visible at a glance.
#include <png.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1200;
constexpr int kRowHeight = 180;

bool readFirstChannel(const char* path, std::vector<float>& samples) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path, SFM_READ, &info);
    if (!file) return false;
    std::vector<float> all(static_cast<size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_float(file, all.data(), info.frames);
    sf_close(file);
    samples.resize(static_cast<size_t>(got));
    for (sf_count_t i = 0; i < got; ++i) samples[i] = all[static_cast<size_t>(i) * info.channels];
    return true;
}

struct Canvas {
    int width, height;
    std::vector<unsigned char> rgb;
    Canvas(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 255) {}
    void put(int x, int y, unsigned char r, unsigned char g, unsigned char b) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        p[0] = r, p[1] = g, p[2] = b;
    }
    // Min/max envelope of samples [from, to) across the row starting at top.
    void waveform(const std::vector<float>& s, size_t from, size_t to, int top, unsigned char r, unsigned char g,
                  unsigned char b) {
        const int mid = top + kRowHeight / 2;
        for (int x = 0; x < width; ++x) put(x, mid, 200, 200, 200);
        if (to <= from) return;
        for (int x = 0; x < width; ++x) {
            const size_t a = from + (to - from) * x / width;
            const size_t e = std::max(a + 1, from + (to - from) * (x + 1) / width);
            float lo = 1, hi = -1;
            for (size_t i = a; i < e && i < s.size(); ++i) lo = std::min(lo, s[i]), hi = std::max(hi, s[i]);
            const int y0 = mid - static_cast<int>(std::clamp(hi, -1.0f, 1.0f) * (kRowHeight / 2 - 4));
            const int y1 = mid - static_cast<int>(std::clamp(lo, -1.0f, 1.0f) * (kRowHeight / 2 - 4));
            for (int y = y0; y <= y1; ++y) put(x, y, r, g, b);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: wavepicture BEFORE.wav AFTER.wav OUT.png\n");
        return 2;
    }
    std::vector<float> before, after;
    if (!readFirstChannel(argv[1], before) || !readFirstChannel(argv[2], after)) {
        std::fprintf(stderr, "wavepicture: cannot read the input files\n");
        return 1;
    }
    Canvas canvas(kWidth, 4 * kRowHeight);
    // The zoomed window: 2400 samples from a tenth into the file.
    const size_t from = before.size() / 10, to = std::min(before.size(), from + 2400);
    canvas.waveform(before, 0, before.size(), 0, 40, 90, 200);
    canvas.waveform(after, 0, after.size(), kRowHeight, 200, 60, 40);
    canvas.waveform(before, from, to, 2 * kRowHeight, 40, 90, 200);
    canvas.waveform(after, from, std::min(to, after.size()), 3 * kRowHeight, 200, 60, 40);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = canvas.width;
    png.height = canvas.height;
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, argv[3], 0, canvas.rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "wavepicture: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
