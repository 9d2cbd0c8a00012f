// Captures what the code under test writes to standard output and error.
#pragma once

#include "log/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

struct Captured
{
	std::string out;
	std::string err;
	bool has (const std::string& line) const
	{
		return out.find (line + "\n") != std::string::npos || err.find (line + "\n") != std::string::npos;
	}
	bool hasOut (const std::string& line) const { return out.find (line + "\n") != std::string::npos; }
	bool hasErr (const std::string& line) const { return err.find (line + "\n") != std::string::npos; }
	int count (const std::string& needle) const
	{
		int n = 0;
		for (std::size_t at = out.find (needle); at != std::string::npos; at = out.find (needle, at + 1))
			++n;
		return n;
	}
};

// Failures reported while output is captured would be swallowed with it;
// TEST_SHOW_OUTPUT=1 turns capturing off to see them.
template <class F>
Captured captureOutput (F&& f)
{
	if (std::getenv ("TEST_SHOW_OUTPUT"))
	{
		f ();
		return Captured {};
	}
	testing::internal::CaptureStdout ();
	testing::internal::CaptureStderr ();
	f ();
	Tandem::flushLog ();
	Captured c;
	c.out = testing::internal::GetCapturedStdout ();
	c.err = testing::internal::GetCapturedStderr ();
	return c;
}
