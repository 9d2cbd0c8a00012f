// Charts drawn onto a canvas: a line chart (linear or logarithmic axes) and a
// grouped bar chart, each with a title, axes with ticks and labels, and a
// legend. Each fills the rectangle of the canvas it is given.
#pragma once

#include "canvas.h"

#include <string>
#include <vector>

namespace plot {

struct Area
{
	int x, y, width, height;
};

struct Axis
{
	double low = 0, high = 1;
	bool logarithmic = false; // then low and high must be above 0
	std::string label;
};

struct LineSeries
{
	std::string name;
	Colour colour;
	std::vector<double> x, y; // points in x order; may be far denser than pixels
};

struct LineChart
{
	std::string title;
	Axis x, y;
	std::vector<LineSeries> series;
};

struct BarChart
{
	std::string title;
	std::string yLabel;
	// A logarithmic y axis: bars rise from below the smallest one, and
	// values of 0 or less get no bar.
	bool logY = false;
	std::vector<std::string> groups; // along x
	std::vector<std::string> series; // one bar of each per group
	// values[group][series]; NaN for a missing bar.
	std::vector<std::vector<double>> values;
};

void draw (Canvas& canvas, Area area, const LineChart& chart);
void draw (Canvas& canvas, Area area, const BarChart& chart);

} // namespace plot
