// Figures for docs/reliability.md: each test that measures something prints
// one line "[figure] AREA | WHAT | RESULT", which
// scripts/reliability-report.sh collects from the tests' output.
#pragma once

#include <cstdio>
#include <string>

namespace figures {

inline void report (const std::string& area, const std::string& what, const std::string& result)
{
	std::printf ("[figure] %s | %s | %s\n", area.c_str (), what.c_str (), result.c_str ());
	std::fflush (stdout);
}

} // namespace figures
