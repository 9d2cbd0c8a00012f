// demosound OUT.wav [--seconds S] [--rate R]: writes the demo's test sound,
// a stereo mix of a chord, a rising sweep and short noise bursts, so that a
// gain change and a low-pass are both easy to see and hear.
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

int main (int argc, char** argv)
{
	if (argc < 2)
	{
		std::fprintf (stderr, "usage: demosound OUT.wav [--seconds S] [--rate R]\n");
		return 2;
	}
	double seconds = 3.0;
	int rate = 48000;
	for (int i = 2; i + 1 < argc; i += 2)
	{
		if (!std::strcmp (argv[i], "--seconds"))
			seconds = std::atof (argv[i + 1]);
		else if (!std::strcmp (argv[i], "--rate"))
			rate = std::atoi (argv[i + 1]);
	}
	if (seconds <= 0 || rate < 8000)
	{
		std::fprintf (stderr, "demosound: bad --seconds or --rate\n");
		return 2;
	}
	const long frames = static_cast<long> (seconds * rate);
	std::vector<float> pcm (static_cast<size_t> (frames) * 2);
	std::mt19937 random (1234);
	std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
	const double twoPi = 2.0 * M_PI;
	for (long i = 0; i < frames; ++i)
	{
		const double t = static_cast<double> (i) / rate;
		const double chord =
		    std::sin (twoPi * 220.0 * t) + 0.6 * std::sin (twoPi * 277.2 * t) + 0.5 * std::sin (twoPi * 329.6 * t);
		const double sweep =
		    std::sin (twoPi * 100.0 * seconds / std::log (80.0) * (std::pow (80.0, t / seconds) - 1.0));
		const bool burst = std::fmod (t, 0.5) < 0.05;
		const float n = burst ? 0.4f * noise (random) : 0.0f;
		pcm[2 * i] = static_cast<float> (0.25 * chord) + n;
		pcm[2 * i + 1] = static_cast<float> (0.4 * sweep) + n;
	}
	SF_INFO info {};
	info.channels = 2;
	info.samplerate = rate;
	info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
	SNDFILE* file = sf_open (argv[1], SFM_WRITE, &info);
	if (!file)
	{
		std::fprintf (stderr, "demosound: cannot write %s: %s\n", argv[1], sf_strerror (nullptr));
		return 1;
	}
	sf_writef_float (file, pcm.data (), frames);
	sf_close (file);
	return 0;
}
