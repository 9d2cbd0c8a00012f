// The plain sleep of the plug-in's waits (never on the audio thread).
#pragma once

#include <cerrno>
#include <ctime>

namespace Tandem {

// Sleeps the whole duration even when signals interrupt the sleep.
inline void sleepFully (long milliseconds)
{
	timespec remaining {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
	while (::nanosleep (&remaining, &remaining) != 0 && errno == EINTR)
	{
	}
}

} // namespace Tandem
