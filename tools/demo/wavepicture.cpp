// wavepicture BEFORE.wav AFTER.wav OUT.png: the demo's before/after picture.
// wavepicture SOUND.wav OUT.png: one sound alone (the demo's instrument), as
// the same three charts, the zoom on its first note.
// Three charts, before in blue and after in red: the whole first channel
// over time, 50 ms of it zoomed in, and the magnitude spectra of both sounds
// (both channels) and their difference over a logarithmic frequency axis,
// where a low-pass shows as the after curve falling away above its cut-off.
#include "chart.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1200, kChartHeight = 330;
constexpr size_t kFftSize = 4096;

struct Sound
{
	int rate = 0, channels = 0;
	std::vector<float> frames; // interleaved
	size_t length () const { return channels ? frames.size () / channels : 0; }
	float at (size_t frame, int channel) const { return frames[frame * channels + channel]; }
};

bool read (const char* path, Sound& sound)
{
	SF_INFO info {};
	SNDFILE* file = sf_open (path, SFM_READ, &info);
	if (!file)
		return false;
	sound.rate = info.samplerate;
	sound.channels = info.channels;
	sound.frames.resize (static_cast<size_t> (info.frames) * info.channels);
	const sf_count_t got = sf_readf_float (file, sound.frames.data (), info.frames);
	sf_close (file);
	sound.frames.resize (static_cast<size_t> (std::max<sf_count_t> (got, 0)) * info.channels);
	return sound.rate > 0 && sound.length () > 0;
}

// In-place radix-2 FFT; the size is a power of two.
void fft (std::vector<std::complex<double>>& a)
{
	const size_t n = a.size ();
	for (size_t i = 1, j = 0; i < n; ++i)
	{
		size_t bit = n >> 1;
		for (; j & bit; bit >>= 1)
			j ^= bit;
		j ^= bit;
		if (i < j)
			std::swap (a[i], a[j]);
	}
	for (size_t length = 2; length <= n; length <<= 1)
	{
		const std::complex<double> step = std::polar (1.0, -2 * M_PI / static_cast<double> (length));
		for (size_t i = 0; i < n; i += length)
		{
			std::complex<double> w = 1;
			for (size_t k = 0; k < length / 2; ++k, w *= step)
			{
				const auto u = a[i + k], v = a[i + k + length / 2] * w;
				a[i + k] = u + v;
				a[i + k + length / 2] = u - v;
			}
		}
	}
}

// Magnitude spectrum in dB (full-scale sine = 0 dB): the power of
// Hann-windowed, half-overlapping frames of every channel, averaged.
plot::LineSeries spectrum (const Sound& sound, const std::string& name, plot::Colour colour)
{
	std::vector<double> power (kFftSize / 2 + 1, 0.0);
	std::vector<double> window (kFftSize);
	double windowSum = 0;
	for (size_t i = 0; i < kFftSize; ++i)
		windowSum += window[i] = 0.5 - 0.5 * std::cos (2 * M_PI * i / kFftSize);
	int frames = 0;
	std::vector<std::complex<double>> buffer (kFftSize);
	for (size_t start = 0; start + kFftSize <= sound.length (); start += kFftSize / 2)
		for (int c = 0; c < sound.channels; ++c, ++frames)
		{
			for (size_t i = 0; i < kFftSize; ++i)
				buffer[i] = sound.at (start + i, c) * window[i];
			fft (buffer);
			for (size_t k = 0; k < power.size (); ++k)
				power[k] += std::norm (buffer[k]);
		}
	plot::LineSeries series {name, colour, {}, {}};
	for (size_t k = 1; k < power.size () && frames; ++k)
	{
		const double amplitude = 2 * std::sqrt (power[k] / frames) / windowSum;
		series.x.push_back (static_cast<double> (k) * sound.rate / kFftSize);
		series.y.push_back (20 * std::log10 (std::max (amplitude, 1e-9)));
	}
	return series;
}

// The first channel from `from` to `to` (frames), x in `unit` seconds.
plot::LineSeries wave (const Sound& sound, size_t from, size_t to, double unit, const std::string& name,
                       plot::Colour colour)
{
	plot::LineSeries series {name, colour, {}, {}};
	for (size_t i = from; i < std::min (to, sound.length ()); ++i)
	{
		series.x.push_back (static_cast<double> (i) / sound.rate / unit);
		series.y.push_back (sound.at (i, 0));
	}
	return series;
}

bool drawCharts (const plot::LineChart& whole, const plot::LineChart& zoom, const plot::LineChart& spectra,
                 const char* out)
{
	plot::Canvas canvas (kWidth, 3 * kChartHeight);
	plot::draw (canvas, {0, 0, kWidth, kChartHeight}, whole);
	plot::draw (canvas, {0, kChartHeight, kWidth, kChartHeight}, zoom);
	plot::draw (canvas, {0, 2 * kChartHeight, kWidth, kChartHeight}, spectra);
	if (canvas.writePng (out))
		return true;
	std::fprintf (stderr, "wavepicture: cannot write %s\n", out);
	return false;
}

int soundAlone (const char* in, const char* out)
{
	Sound sound;
	if (!read (in, sound) || sound.length () == 0)
	{
		std::fprintf (stderr, "wavepicture: cannot read %s\n", in);
		return 1;
	}
	const plot::Colour red = plot::paletteColour (1);
	const double seconds = static_cast<double> (sound.length ()) / sound.rate;
	plot::LineChart whole {"Waveform, first channel",
	                       {0, seconds, false, "time (s)"},
	                       {-1, 1, false, "level"},
	                       {wave (sound, 0, sound.length (), 1, "instrument", red)}};
	// 50 ms from just before the first note.
	size_t first = 0;
	while (first < sound.length () && std::fabs (sound.at (first, 0)) < 1e-4f)
		++first;
	const size_t zoomLength = static_cast<size_t> (sound.rate) / 20;
	size_t zoomFrom = first > static_cast<size_t> (sound.rate) / 200 ? first - sound.rate / 200 : 0;
	if (zoomFrom + zoomLength > sound.length ())
		zoomFrom = 0;
	const size_t zoomTo = std::min (sound.length (), zoomFrom + zoomLength);
	plot::LineChart zoom {"Zoomed in: 50 ms around the first note",
	                      {1000.0 * zoomFrom / sound.rate, 1000.0 * zoomTo / sound.rate, false, "time (ms)"},
	                      {-1, 1, false, "level"},
	                      {wave (sound, zoomFrom, zoomTo, 0.001, "instrument", red)}};
	plot::LineChart spectra {"Spectrum of both channels: one peak per note played",
	                         {20, sound.rate / 2.0, true, "frequency (Hz)"},
	                         {-100, 0, false, "level (dB)"},
	                         {spectrum (sound, "instrument", red)}};
	return drawCharts (whole, zoom, spectra, out) ? 0 : 1;
}

} // namespace

int main (int argc, char** argv)
{
	if (argc == 3)
		return soundAlone (argv[1], argv[2]);
	if (argc != 4)
	{
		std::fprintf (stderr,
		              "usage: wavepicture BEFORE.wav AFTER.wav OUT.png\n       wavepicture SOUND.wav OUT.png\n");
		return 2;
	}
	Sound before, after;
	if (!read (argv[1], before) || !read (argv[2], after))
	{
		std::fprintf (stderr, "wavepicture: cannot read the input files\n");
		return 1;
	}
	const plot::Colour blue = plot::paletteColour (0), red = plot::paletteColour (1);
	const double seconds = static_cast<double> (before.length ()) / before.rate;

	plot::LineChart whole {"Waveform, first channel",
	                       {0, seconds, false, "time (s)"},
	                       {-1, 1, false, "level"},
	                       {wave (before, 0, before.length (), 1, "before", blue),
	                        wave (after, 0, after.length (), 1, "after Quill", red)}};

	// 50 ms around the start of the second noise burst (they start every
	// half second), or the first 50 ms of a shorter sound.
	size_t zoomFrom = static_cast<size_t> (before.rate) * 49 / 100;
	const size_t zoomLength = static_cast<size_t> (before.rate) / 20;
	if (zoomFrom + zoomLength > before.length ())
		zoomFrom = 0;
	const size_t zoomTo = zoomFrom + zoomLength;
	plot::LineChart zoom {"Zoomed in: 50 ms",
	                      {1000.0 * zoomFrom / before.rate, 1000.0 * zoomTo / before.rate, false, "time (ms)"},
	                      {-1, 1, false, "level"},
	                      {wave (before, zoomFrom, zoomTo, 0.001, "before", blue),
	                       wave (after, zoomFrom, zoomTo, 0.001, "after Quill", red)}};

	plot::LineChart spectra {
	    "Spectrum of both channels: the difference is Quill's gain, bending down above its cut-off",
	    {20, before.rate / 2.0, true, "frequency (Hz)"},
	    {-100, 0, false, "level (dB)"},
	    {spectrum (before, "before", blue), spectrum (after, "after Quill", red)}};
	// What Quill did at each frequency: its gain, bending down above the cut-off.
	// (Empty when a sound is shorter than one analysis frame.)
	const auto& b = spectra.series[0].y;
	const auto& a = spectra.series[1].y;
	plot::LineSeries change {"after - before", plot::paletteColour (2), spectra.series[0].x, {}};
	for (size_t k = 0; k < std::min (a.size (), b.size ()); ++k)
		change.y.push_back (a[k] - b[k]);
	spectra.series.push_back (change);

	return drawCharts (whole, zoom, spectra, argv[3]) ? 0 : 1;
}
