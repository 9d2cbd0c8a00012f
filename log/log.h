// The one way both programs write their log lines.
//
// Every line is whole, ends in a newline and is flushed: progress goes to
// standard output, failures to standard error.
//  - Ordinary threads write at once: `logInfo() << "[Tag] text " << value;`
//    (the line is written when the statement ends).
//  - Audio threads never block on output: `logFromAudio` formats the line
//    into a preallocated slot and hands it to a writer thread; it does not
//    allocate, lock or make a system call. Handed-off lines appear in the
//    order they were handed off, and before any line that an ordinary
//    thread writes after them.
#pragma once

#include <sstream>

#if defined(__MINGW32__)
#define TANDEM_PRINTF(f, a) __attribute__ ((format (gnu_printf, f, a)))
#else
#define TANDEM_PRINTF(f, a) __attribute__ ((format (printf, f, a)))
#endif

namespace Tandem {

class LogLine
{
public:
	explicit LogLine (bool error) : error_ (error) {}
	~LogLine ();
	LogLine (const LogLine&) = delete;
	LogLine& operator= (const LogLine&) = delete;

	template <typename T>
	LogLine& operator<< (const T& value)
	{
		text_ << value;
		return *this;
	}
	LogLine& operator<< (std::ios_base& (*manipulator) (std::ios_base&))
	{
		text_ << manipulator;
		return *this;
	}

private:
	std::ostringstream text_;
	bool error_;
};

// Progress line, to standard output.
inline LogLine logInfo ()
{
	return LogLine (false);
}
// Failure line, to standard error.
inline LogLine logError ()
{
	return LogLine (true);
}

// Audio threads: a printf-style line, handed to the writer thread. A line
// longer than a slot (240 characters) is cut; when every slot is taken the
// line is counted, and the count is reported with the next line written.
void logFromAudio (const char* format, ...) TANDEM_PRINTF (1, 2);
void logErrorFromAudio (const char* format, ...) TANDEM_PRINTF (1, 2);

// Writes every handed-off line now (ordinary threads only).
void flushLog ();

// Keeps the writer thread running while at least one user holds one: the
// first starts it, the last stops it after writing what is left. Users are
// the objects whose audio threads hand off lines (a processor, outpost's
// application); without one, handed-off lines wait for the next flushLog or
// ordinary line.
class AudioLogUser
{
public:
	AudioLogUser ();
	~AudioLogUser ();
	AudioLogUser (const AudioLogUser&) = delete;
	AudioLogUser& operator= (const AudioLogUser&) = delete;
};

} // namespace Tandem
