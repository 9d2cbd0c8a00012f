// What a piece of test code wrote to standard output and standard error.
#pragma once

#include <gtest/gtest.h>

#include <string>

struct Output
{
	std::string out;
	std::string err;
};

template <class F>
Output capture (F&& f)
{
	testing::internal::CaptureStdout ();
	testing::internal::CaptureStderr ();
	f ();
	Output o;
	o.out = testing::internal::GetCapturedStdout ();
	o.err = testing::internal::GetCapturedStderr ();
	return o;
}
