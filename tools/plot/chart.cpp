// Line and bar charts drawn with cairo: the frame, ticks and labels they
// share, and each chart's marks and legend.
#include "chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace plot {

namespace {

constexpr int kLeftMargin = 84, kRightMargin = 30, kTopMargin = 60, kBottomMargin = 56;
// Pixels between the y ticks and their labels, and between those and the axis label.
constexpr int kTickLabelGap = 9, kAxisLabelGap = 10;
// Font sizes in pixels: titles, other text, and the small text of values over bars.
constexpr double kTitleSize = 17, kTextSize = 14, kSmallSize = 10;

std::string format (const char* pattern, double v)
{
	char buffer[64];
	std::snprintf (buffer, sizeof buffer, pattern, v);
	return buffer;
}

// The smallest 1, 2 or 5 times a power of ten that is at least `v`.
double roundUp125 (double v)
{
	const double power = std::pow (10.0, std::floor (std::log10 (v)));
	for (double m : {1.0, 2.0, 5.0})
		if (v <= m * power)
			return m * power;
	return 10 * power;
}

// About six ticks at 1, 2 or 5 times a power of ten.
double linearStep (double low, double high)
{
	return roundUp125 ((high - low) / 6);
}

// As many decimals as `unit` (a tick step, or a tick's power of ten) needs,
// so that both kinds of axes read alike: "0.05", "20", "10000".
std::string tickLabel (double v, double unit)
{
	const int decimals = std::max (0, static_cast<int> (-std::floor (std::log10 (unit) + 1e-9)));
	char pattern[16];
	std::snprintf (pattern, sizeof pattern, "%%.%df", decimals);
	return format (pattern, std::fabs (v) < unit * 1e-9 ? 0.0 : v);
}

struct Tick
{
	double value;
	std::string label;
};

std::vector<Tick> ticks (const Axis& axis)
{
	std::vector<Tick> list;
	if (axis.logarithmic)
	{
		// 1, 2 and 5 of each decade; only the 1s when that is too many.
		const int first = static_cast<int> (std::floor (std::log10 (axis.low)));
		const int last = static_cast<int> (std::ceil (std::log10 (axis.high)));
		const bool dense = last - first <= 4;
		for (int decade = first; decade <= last; ++decade)
			for (double m : {1.0, 2.0, 5.0})
			{
				const double power = std::pow (10.0, decade), v = m * power;
				if ((m != 1 && !dense) || v < axis.low * 0.999 || v > axis.high * 1.001)
					continue;
				list.push_back ({v, tickLabel (v, power)});
			}
		return list;
	}
	const double step = linearStep (axis.low, axis.high);
	for (double v = std::ceil (axis.low / step - 1e-9) * step; v <= axis.high + step * 1e-9; v += step)
		list.push_back ({v, tickLabel (v, step)});
	return list;
}

// Where values land inside the plot rectangle.
struct Scale
{
	Axis axis;
	double from, to; // where axis.low and axis.high are, in pixels
	double t (double v) const { return axis.logarithmic ? std::log10 (v) : v; }
	double operator() (double v) const
	{
		return from + (t (v) - t (axis.low)) / (t (axis.high) - t (axis.low)) * (to - from);
	}
};

void setColour (cairo_t* cr, Colour c)
{
	cairo_set_source_rgb (cr, c.r / 255.0, c.g / 255.0, c.b / 255.0);
}

// The width of `s` in a sans font of `size` pixels, which it sets for the
// text drawn next.
double textWidth (cairo_t* cr, const std::string& s, double size = kTextSize)
{
	cairo_select_font_face (cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
	cairo_set_font_size (cr, size);
	cairo_text_extents_t extents;
	cairo_text_extents (cr, s.c_str (), &extents);
	return extents.x_advance;
}

// `s` with the middle of its capitals at height y, and at x its left end
// (align 0), its middle (0.5) or its right end (1).
void text (cairo_t* cr, double x, double y, const std::string& s, double align = 0, double size = kTextSize)
{
	cairo_move_to (cr, x - align * textWidth (cr, s, size), y + 0.36 * size);
	setColour (cr, kBlack);
	cairo_show_text (cr, s.c_str ());
}

// The same, read from bottom to top, its middle at (x, y).
void verticalText (cairo_t* cr, double x, double y, const std::string& s)
{
	cairo_save (cr);
	cairo_translate (cr, x, y);
	cairo_rotate (cr, -M_PI / 2);
	text (cr, 0, 0, s, 0.5);
	cairo_restore (cr);
}

// A line one pixel wide through the centres of the pixels it joins.
void line (cairo_t* cr, double x0, double y0, double x1, double y1, Colour c)
{
	setColour (cr, c);
	cairo_set_line_width (cr, 1);
	cairo_move_to (cr, std::round (x0) + 0.5, std::round (y0) + 0.5);
	cairo_line_to (cr, std::round (x1) + 0.5, std::round (y1) + 0.5);
	cairo_stroke (cr);
}

double widestLabel (cairo_t* cr, const std::vector<Tick>& list)
{
	double width = 0;
	for (const Tick& tick : list)
		width = std::max (width, textWidth (cr, tick.label));
	return width;
}

// The plot rectangle, moved right when the y tick labels and the axis label
// beside them need more room than the usual margin.
Area plotArea (cairo_t* cr, Area area, const Axis& y)
{
	int left = kTickLabelGap + static_cast<int> (std::ceil (widestLabel (cr, ticks (y)))) + 6;
	if (!y.label.empty ())
		left += kAxisLabelGap + static_cast<int> (kTextSize);
	left = std::max (kLeftMargin, left);
	return {area.x + left, area.y + kTopMargin, area.width - left - kRightMargin,
	        area.height - kTopMargin - kBottomMargin};
}

// Title, grid, ticks with labels and axis labels around the plot rectangle.
void frame (cairo_t* cr, Area area, const std::string& title, const Scale* x, const Scale& y, const std::string& xLabel)
{
	const Area plot = plotArea (cr, area, y.axis);
	text (cr, area.x + area.width / 2.0, area.y + 18, title, 0.5, kTitleSize);
	const std::vector<Tick> yTicks = ticks (y.axis);
	for (const Tick& tick : yTicks)
	{
		const double py = y (tick.value);
		line (cr, plot.x, py, plot.x + plot.width - 1, py, kGrid);
		line (cr, plot.x - 5, py, plot.x - 1, py, kBlack);
		text (cr, plot.x - kTickLabelGap, py, tick.label, 1);
	}
	if (x)
		for (const Tick& tick : ticks (x->axis))
		{
			const double px = (*x) (tick.value);
			line (cr, px, plot.y, px, plot.y + plot.height - 1, kGrid);
			line (cr, px, plot.y + plot.height, px, plot.y + plot.height + 4, kBlack);
			text (cr, px, plot.y + plot.height + 16, tick.label, 0.5);
		}
	setColour (cr, kBlack);
	cairo_rectangle (cr, plot.x - 0.5, plot.y - 0.5, plot.width + 1, plot.height + 1);
	cairo_stroke (cr);
	// Left of the widest tick label, so the two never run into each other.
	const double labelX = plot.x - kTickLabelGap - widestLabel (cr, yTicks) - kAxisLabelGap - kTextSize / 2;
	verticalText (cr, labelX, plot.y + plot.height / 2.0, y.axis.label);
	text (cr, plot.x + plot.width / 2.0, area.y + area.height - 13, xLabel, 0.5);
}

struct LegendEntry
{
	std::string name;
	Colour colour;
};

// One row between the title and the plot naming each colour, centred; in
// small letters when the full-size row would not fit.
void legend (cairo_t* cr, Area area, const std::vector<LegendEntry>& entries)
{
	// A colour swatch, a gap, the name and a wider gap, all in proportion to the letters.
	auto entryWidth = [&] (const LegendEntry& e, double size) {
		return 2 * size + textWidth (cr, e.name, size) + 1.5 * size;
	};
	auto rowWidth = [&] (double size) {
		double width = 0;
		for (const auto& e : entries)
			width += entryWidth (e, size);
		return width;
	};
	const int room = area.width - kLeftMargin - kRightMargin;
	const double size = rowWidth (kTextSize) <= room ? kTextSize : kSmallSize;
	double x = area.x + kLeftMargin + (room - rowWidth (size)) / 2;
	const double y = area.y + 40;
	for (const auto& e : entries)
	{
		setColour (cr, e.colour);
		cairo_rectangle (cr, std::round (x), std::round (y - size / 5), std::round (1.5 * size),
		                 std::round (size / 2.5));
		cairo_fill (cr);
		text (cr, x + 2 * size, y, e.name, 0, size);
		x += entryWidth (e, size);
	}
}

} // namespace

void draw (Canvas& canvas, Area area, const LineChart& chart)
{
	cairo_t* cr = canvas.cairo ();
	const Area plot = plotArea (cr, area, chart.y);
	const Scale x {chart.x, static_cast<double> (plot.x), static_cast<double> (plot.x + plot.width)};
	const Scale y {chart.y, static_cast<double> (plot.y + plot.height), static_cast<double> (plot.y)};
	frame (cr, area, chart.title, &x, y, chart.x.label);
	cairo_save (cr);
	cairo_rectangle (cr, plot.x, plot.y, plot.width, plot.height);
	cairo_clip (cr);
	cairo_set_line_width (cr, 1.5);
	cairo_set_line_join (cr, CAIRO_LINE_JOIN_ROUND);
	std::vector<LegendEntry> entries;
	for (const LineSeries& s : chart.series)
	{
		// Points that are no number, or off a logarithmic axis, break the line.
		cairo_new_path (cr);
		bool joined = false;
		for (size_t i = 0; i < std::min (s.x.size (), s.y.size ()); ++i)
		{
			const double px = x (s.x[i]), py = y (s.y[i]);
			if (!std::isfinite (px) || !std::isfinite (py))
			{
				joined = false;
				continue;
			}
			if (joined)
				cairo_line_to (cr, px, py);
			else
				cairo_move_to (cr, px, py);
			joined = true;
		}
		setColour (cr, s.colour);
		cairo_stroke (cr);
		entries.push_back ({s.name, s.colour});
	}
	cairo_restore (cr);
	legend (cr, area, entries);
}

void draw (Canvas& canvas, Area area, const BarChart& chart)
{
	Axis yAxis {0, 1, chart.logY, chart.yLabel};
	if (chart.logY)
	{
		double smallest = HUGE_VAL, high = 0;
		for (const auto& row : chart.values)
			for (double v : row)
				if (std::isfinite (v) && v > 0)
					smallest = std::min (smallest, v), high = std::max (high, v);
		if (high <= 0)
			smallest = high = 1;
		// A power of ten at most half the smallest bar, so that even that one
		// stands a third of a decade tall; and headroom for the value over the
		// tallest.
		yAxis.low = std::pow (10.0, std::floor (std::log10 (smallest / 2) + 1e-9));
		const double decades = std::log10 (high / yAxis.low);
		yAxis.high = roundUp125 (high * std::pow (10.0, 0.08 * decades));
	}
	else
	{
		double low = 0, high = 0;
		for (const auto& row : chart.values)
			for (double v : row)
				if (std::isfinite (v))
					low = std::min (low, v), high = std::max (high, v);
		if (high <= low)
			high = low + 1;
		// Round the range out to whole ticks.
		const double step = linearStep (low, high);
		yAxis.low = std::floor (low / step) * step, yAxis.high = std::ceil (high * 1.08 / step) * step;
	}
	cairo_t* cr = canvas.cairo ();
	const Area plot = plotArea (cr, area, yAxis);
	const Scale y {yAxis, static_cast<double> (plot.y + plot.height), static_cast<double> (plot.y)};
	frame (cr, area, chart.title, nullptr, y, "");

	const int groups = std::max<int> (1, static_cast<int> (chart.groups.size ()));
	const int seriesCount = std::max<int> (1, static_cast<int> (chart.series.size ()));
	const double slot = static_cast<double> (plot.width) / groups;
	const int barWidth = std::max (1, static_cast<int> (slot * 0.8 / seriesCount));
	for (int g = 0; g < static_cast<int> (chart.groups.size ()); ++g)
	{
		const int slotLeft = plot.x + static_cast<int> (g * slot);
		const int barsLeft = slotLeft + static_cast<int> ((slot - barWidth * seriesCount) / 2);
		for (int s = 0; s < seriesCount && g < static_cast<int> (chart.values.size ()); ++s)
		{
			if (s >= static_cast<int> (chart.values[g].size ()) || !std::isfinite (chart.values[g][s]))
				continue;
			const double v = chart.values[g][s];
			if (chart.logY && v <= 0)
				continue; // no place on a log axis
			const double top = std::round (chart.logY ? y (v) : y (std::max (v, 0.0)));
			const double bottom = std::round (chart.logY ? y (yAxis.low) : y (std::min (v, 0.0)));
			const int left = barsLeft + s * barWidth;
			setColour (cr, paletteColour (s));
			cairo_rectangle (cr, left, top, barWidth - 1, std::max (1.0, bottom - top));
			cairo_fill (cr);
			const std::string value = format (std::fabs (v) >= 100 ? "%.0f" : "%.3g", v);
			if (textWidth (cr, value, kSmallSize) <= barWidth)
				text (cr, left + barWidth / 2.0, top - 8, value, 0.5, kSmallSize);
		}
		// Group names under their slot, smaller when they do not fit.
		const std::string& name = chart.groups[g];
		const double size = textWidth (cr, name) <= slot - 4 ? kTextSize : kSmallSize;
		text (cr, slotLeft + slot / 2, plot.y + plot.height + 17, name, 0.5, size);
	}
	std::vector<LegendEntry> entries;
	for (int s = 0; s < static_cast<int> (chart.series.size ()); ++s)
		entries.push_back ({chart.series[s], paletteColour (s)});
	legend (cr, area, entries);
}

} // namespace plot
