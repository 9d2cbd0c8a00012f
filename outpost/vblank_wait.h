// Supplies IDXGIOutput::WaitForVBlank where Wine lacks it.
//
// Debian's Wine 8 answers WaitForVBlank with E_NOTIMPL at once. Editors made
// with JUCE 7 repaint only when a thread of theirs returns S_OK from it (on a
// failure they sleep 1 ms and ask again), so under that Wine they paint once
// and never again. Wine's DXGI objects of one kind share one interface table
// in the process, so replacing the table's WaitForVBlank entry once, before
// the served module loads, answers every output the plug-in will ever get.
// The replacement sleeps to the next tick of the display's refresh rate
// (60 Hz when the display reports none or an implausible one) and returns
// S_OK; ticks are counted from one origin on the monotonic clock, so they
// stay evenly spaced however late a caller comes. Where Wine answers the
// call itself, nothing is changed.
#pragma once

#include <cstdint>

namespace Tandem {

enum class VBlankWaitOutcome
{
	Native,   // Wine waits itself: left alone
	Supplied, // the table's entry now points at our wait
	NoOutput, // no adapter or no output (headless): nothing to patch
	Failed,   // the table could not be changed (logged)
};

struct VBlankWaitResult
{
	VBlankWaitOutcome outcome = VBlankWaitOutcome::NoOutput;
	unsigned hertz = 0; // the rate of the supplied wait, 0 when none was supplied
};

// Call once on outpost's main thread, before the served module loads (the
// module may start its own threads that ask for the wait). Logs one line
// saying what was done. A second call answers as the first did.
VBlankWaitResult installVBlankWait ();

constexpr unsigned kFallbackRefreshHertz = 60;

// The display's reported rate when plausible, else the fallback. Wine on
// Xvfb reports 0 (or 1, Windows' "hardware default").
constexpr unsigned plausibleRefreshHertz (unsigned reported)
{
	return reported >= 23 && reported <= 500 ? reported : kFallbackRefreshHertz;
}

// The first tick strictly after `now`, on a clock of `frequency` counts per
// second whose ticks fall at origin + ceil(k * frequency / hertz). Rounding
// the tick up keeps "now is at or past tick k" equivalent to "the next tick
// is k + 1", so a caller that returns at a tick and asks again at once waits
// for the following one instead of getting the same tick twice.
constexpr std::int64_t nextVBlankTick (std::int64_t now, std::int64_t origin, std::int64_t frequency, unsigned hertz)
{
	const std::int64_t elapsed = now > origin ? now - origin : 0;
	const std::int64_t k = elapsed * static_cast<std::int64_t> (hertz) / frequency + 1;
	return origin + (k * frequency + hertz - 1) / hertz;
}

} // namespace Tandem
