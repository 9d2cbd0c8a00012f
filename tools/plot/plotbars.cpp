// plotbars IN.tsv OUT.png [--title T] [--ylabel L] [--log-y]: draws a
// grouped bar chart. IN.tsv starts with the header line
// "group<TAB>series<TAB>value"; each further line is one bar. Groups run
// along x and series get one colour each, both in the order they first
// appear. --log-y keeps small bars visible beside one that is far taller.
#include "chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

int indexOf (std::vector<std::string>& names, const std::string& name)
{
	auto it = std::find (names.begin (), names.end (), name);
	if (it != names.end ())
		return static_cast<int> (it - names.begin ());
	names.push_back (name);
	return static_cast<int> (names.size ()) - 1;
}

bool readTable (const char* path, plot::BarChart& chart)
{
	std::ifstream in (path);
	std::string line;
	if (!in || !std::getline (in, line) || line.substr (0, line.find_last_not_of ("\r") + 1) != "group\tseries\tvalue")
	{
		std::fprintf (stderr, "plotbars: %s: no header line \"group<TAB>series<TAB>value\"\n", path);
		return false;
	}
	for (int number = 2; std::getline (in, line); ++number)
	{
		if (!line.empty () && line.back () == '\r')
			line.pop_back ();
		if (line.empty ())
			continue;
		const size_t a = line.find ('\t'), b = a == std::string::npos ? a : line.find ('\t', a + 1);
		char* end = nullptr;
		const double value = b == std::string::npos ? NAN : std::strtod (line.c_str () + b + 1, &end);
		if (b == std::string::npos || end == line.c_str () + b + 1 || *end != '\0' || !std::isfinite (value))
		{
			std::fprintf (stderr, "plotbars: %s:%d: expected group<TAB>series<TAB>number\n", path, number);
			return false;
		}
		const int g = indexOf (chart.groups, line.substr (0, a));
		const int s = indexOf (chart.series, line.substr (a + 1, b - a - 1));
		chart.values.resize (chart.groups.size ());
		for (auto& row : chart.values)
			row.resize (chart.series.size (), NAN);
		chart.values[g][s] = value;
	}
	if (chart.groups.empty ())
	{
		std::fprintf (stderr, "plotbars: %s: no bars\n", path);
		return false;
	}
	return true;
}

} // namespace

int main (int argc, char** argv)
{
	if (argc < 3)
	{
		std::fprintf (stderr, "usage: plotbars IN.tsv OUT.png [--title T] [--ylabel L] [--log-y]\n");
		return 2;
	}
	plot::BarChart chart;
	for (int i = 3; i < argc; ++i)
	{
		if (!std::strcmp (argv[i], "--log-y"))
		{
			chart.logY = true;
		}
		else if (i + 1 < argc && !std::strcmp (argv[i], "--title"))
		{
			chart.title = argv[++i];
		}
		else if (i + 1 < argc && !std::strcmp (argv[i], "--ylabel"))
		{
			chart.yLabel = argv[++i];
		}
		else
		{
			std::fprintf (stderr, "plotbars: unknown or incomplete option %s\n", argv[i]);
			return 2;
		}
	}
	if (!readTable (argv[1], chart))
		return 1;
	const int width = std::max (800, 140 + static_cast<int> (chart.groups.size () * chart.series.size ()) * 40);
	plot::Canvas canvas (width, 520);
	plot::draw (canvas, {0, 0, width, 520}, chart);
	if (!canvas.writePng (argv[2]))
	{
		std::fprintf (stderr, "plotbars: cannot write %s\n", argv[2]);
		return 1;
	}
	return 0;
}
