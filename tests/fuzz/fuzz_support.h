// Shared by the fuzz targets that drive product code: its log lines are
// muted (they would flood the run and slow it down), and a broken property
// aborts with its reason, which libFuzzer reports with the input.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
	std::cout.setstate (std::ios::badbit);
	std::cerr.setstate (std::ios::badbit);
	return 0;
}

namespace {

[[noreturn]] void fail (const char* what)
{
	std::fprintf (stderr, "%s: %s\n", program_invocation_short_name, what);
	std::abort ();
}

} // namespace
