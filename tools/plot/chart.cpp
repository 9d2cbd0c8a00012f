// Line and bar charts: the frame, ticks and labels they share, and each
// chart's marks and legend.
#include "chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace plot {

namespace {

constexpr int kLeftMargin = 84, kRightMargin = 30, kTopMargin = 60, kBottomMargin = 56;
// Pixels between the y ticks and their labels, and between those and the axis label.
constexpr int kTickLabelGap = 9, kAxisLabelGap = 10;

std::string format(const char* pattern, double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, v);
    return buffer;
}

// The smallest 1, 2 or 5 times a power of ten that is at least `v`.
double roundUp125(double v) {
    const double power = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0})
        if (v <= m * power) return m * power;
    return 10 * power;
}

// About six ticks at 1, 2 or 5 times a power of ten.
double linearStep(double low, double high) { return roundUp125((high - low) / 6); }

// As many decimals as `unit` (a tick step, or a tick's power of ten) needs,
// so that both kinds of axes read alike: "0.05", "20", "10000".
std::string tickLabel(double v, double unit) {
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(unit) + 1e-9)));
    char pattern[16];
    std::snprintf(pattern, sizeof pattern, "%%.%df", decimals);
    return format(pattern, std::fabs(v) < unit * 1e-9 ? 0.0 : v);
}

struct Tick {
    double value;
    std::string label;
};

std::vector<Tick> ticks(const Axis& axis) {
    std::vector<Tick> list;
    if (axis.logarithmic) {
        // 1, 2 and 5 of each decade; only the 1s when that is too many.
        const int first = static_cast<int>(std::floor(std::log10(axis.low)));
        const int last = static_cast<int>(std::ceil(std::log10(axis.high)));
        const bool dense = last - first <= 4;
        for (int decade = first; decade <= last; ++decade)
            for (double m : {1.0, 2.0, 5.0}) {
                const double power = std::pow(10.0, decade), v = m * power;
                if ((m != 1 && !dense) || v < axis.low * 0.999 || v > axis.high * 1.001) continue;
                list.push_back({v, tickLabel(v, power)});
            }
        return list;
    }
    const double step = linearStep(axis.low, axis.high);
    for (double v = std::ceil(axis.low / step - 1e-9) * step; v <= axis.high + step * 1e-9; v += step)
        list.push_back({v, tickLabel(v, step)});
    return list;
}

// Where values land inside the plot rectangle.
struct Scale {
    Axis axis;
    int from, to;  // pixel of axis.low and of axis.high
    double t(double v) const { return axis.logarithmic ? std::log10(v) : v; }
    int operator()(double v) const {
        const double f = (t(v) - t(axis.low)) / (t(axis.high) - t(axis.low));
        return from + static_cast<int>(std::lround(f * (to - from)));
    }
};

int widestLabel(const std::vector<Tick>& list) {
    int width = 0;
    for (const Tick& tick : list) width = std::max(width, Canvas::textWidth(tick.label));
    return width;
}

// The plot rectangle, moved right when the y tick labels and the axis label
// beside them need more room than the usual margin.
Area plotArea(Area area, const Axis& y) {
    int left = kTickLabelGap + widestLabel(ticks(y)) + 6;
    if (!y.label.empty()) left += kAxisLabelGap + Canvas::textHeight();
    left = std::max(kLeftMargin, left);
    return {area.x + left, area.y + kTopMargin, area.width - left - kRightMargin,
            area.height - kTopMargin - kBottomMargin};
}

// Title, grid, ticks with labels and axis labels around the plot rectangle.
void frame(Canvas& canvas, Area area, const std::string& title, const Scale* x, const Scale& y,
           const std::string& xLabel) {
    const Area plot = plotArea(area, y.axis);
    canvas.text(area.x + (area.width - Canvas::textWidth(title)) / 2, area.y + 8, title, kBlack);
    const std::vector<Tick> yTicks = ticks(y.axis);
    for (const Tick& tick : yTicks) {
        const int py = y(tick.value);
        canvas.line(plot.x, py, plot.x + plot.width - 1, py, kGrid);
        canvas.line(plot.x - 5, py, plot.x - 1, py, kBlack);
        canvas.text(plot.x - kTickLabelGap - Canvas::textWidth(tick.label), py - 7, tick.label, kBlack);
    }
    if (x)
        for (const Tick& tick : ticks(x->axis)) {
            const int px = (*x)(tick.value);
            canvas.line(px, plot.y, px, plot.y + plot.height - 1, kGrid);
            canvas.line(px, plot.y + plot.height, px, plot.y + plot.height + 4, kBlack);
            canvas.text(px - Canvas::textWidth(tick.label) / 2, plot.y + plot.height + 9, tick.label, kBlack);
        }
    canvas.rect(plot.x - 1, plot.y - 1, plot.width + 2, plot.height + 2, kBlack);
    // Left of the widest tick label, so the two never run into each other.
    const int labelX = plot.x - kTickLabelGap - widestLabel(yTicks) - kAxisLabelGap - Canvas::textHeight();
    canvas.verticalText(labelX, plot.y + (plot.height - Canvas::textWidth(y.axis.label)) / 2, y.axis.label, kBlack);
    canvas.text(plot.x + (plot.width - Canvas::textWidth(xLabel)) / 2, area.y + area.height - 20, xLabel, kBlack);
}

struct LegendEntry {
    std::string name;
    Colour colour;
};

// One row between the title and the plot naming each colour, centred; in
// small letters when the full-size row would not fit.
void legend(Canvas& canvas, Area area, const std::vector<LegendEntry>& entries) {
    auto rowWidth = [&](int scale) {
        int width = 0;
        for (const auto& e : entries) width += 15 * scale + Canvas::textWidth(e.name, scale) + 12 * scale;
        return width;
    };
    const int room = area.width - kLeftMargin - kRightMargin;
    const int scale = rowWidth(2) <= room ? 2 : 1;
    int x = area.x + kLeftMargin + (room - rowWidth(scale)) / 2;
    const int y = area.y + 32 + (scale == 1 ? 4 : 0);
    for (const auto& e : entries) {
        canvas.fillRect(x, y + 5 * scale / 2, 11 * scale, 3 * scale, e.colour);
        canvas.text(x + 15 * scale, y, e.name, kBlack, scale);
        x += 15 * scale + Canvas::textWidth(e.name, scale) + 12 * scale;
    }
}

}  // namespace

void draw(Canvas& canvas, Area area, const LineChart& chart) {
    const Area plot = plotArea(area, chart.y);
    const Scale x{chart.x, plot.x, plot.x + plot.width - 1};
    const Scale y{chart.y, plot.y + plot.height - 1, plot.y};
    frame(canvas, area, chart.title, &x, y, chart.x.label);
    std::vector<LegendEntry> entries;
    for (const LineSeries& s : chart.series) {
        // Point by point, but one vertical stroke per pixel column: a series
        // far denser than the pixels draws as its envelope.
        bool have = false;
        int column = 0, lastY = 0, low = 0, high = 0;
        auto stroke = [&] { canvas.line(column, low, column, high, s.colour, 2); };
        for (size_t i = 0; i < std::min(s.x.size(), s.y.size()); ++i) {
            if (!std::isfinite(s.x[i]) || !std::isfinite(s.y[i]) || s.x[i] < chart.x.low || s.x[i] > chart.x.high)
                continue;
            const int px = x(s.x[i]);
            const int py = std::clamp(y(std::clamp(s.y[i], chart.y.low, chart.y.high)), plot.y, plot.y + plot.height - 2);
            if (have && px == column) {
                low = std::min(low, py), high = std::max(high, py), lastY = py;
                continue;
            }
            if (have) {
                stroke();
                canvas.line(column, lastY, px, py, s.colour, 2);
            }
            have = true, column = px, lastY = low = high = py;
        }
        if (have) stroke();
        entries.push_back({s.name, s.colour});
    }
    legend(canvas, area, entries);
}

void draw(Canvas& canvas, Area area, const BarChart& chart) {
    Axis yAxis{0, 1, chart.logY, chart.yLabel};
    if (chart.logY) {
        double smallest = HUGE_VAL, high = 0;
        for (const auto& row : chart.values)
            for (double v : row)
                if (std::isfinite(v) && v > 0) smallest = std::min(smallest, v), high = std::max(high, v);
        if (high <= 0) smallest = high = 1;
        // A power of ten at most half the smallest bar, so that even that one
        // stands a third of a decade tall; and headroom for the value over the
        // tallest.
        yAxis.low = std::pow(10.0, std::floor(std::log10(smallest / 2) + 1e-9));
        const double decades = std::log10(high / yAxis.low);
        yAxis.high = roundUp125(high * std::pow(10.0, 0.08 * decades));
    } else {
        double low = 0, high = 0;
        for (const auto& row : chart.values)
            for (double v : row)
                if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
        if (high <= low) high = low + 1;
        // Round the range out to whole ticks.
        const double step = linearStep(low, high);
        yAxis.low = std::floor(low / step) * step, yAxis.high = std::ceil(high * 1.08 / step) * step;
    }
    const Area plot = plotArea(area, yAxis);
    const Scale y{yAxis, plot.y + plot.height - 1, plot.y};
    frame(canvas, area, chart.title, nullptr, y, "");

    const int groups = std::max<int>(1, static_cast<int>(chart.groups.size()));
    const int seriesCount = std::max<int>(1, static_cast<int>(chart.series.size()));
    const double slot = static_cast<double>(plot.width) / groups;
    const int barWidth = std::max(1, static_cast<int>(slot * 0.8 / seriesCount));
    for (int g = 0; g < static_cast<int>(chart.groups.size()); ++g) {
        const int slotLeft = plot.x + static_cast<int>(g * slot);
        const int barsLeft = slotLeft + static_cast<int>((slot - barWidth * seriesCount) / 2);
        for (int s = 0; s < seriesCount && g < static_cast<int>(chart.values.size()); ++s) {
            if (s >= static_cast<int>(chart.values[g].size()) || !std::isfinite(chart.values[g][s])) continue;
            const double v = chart.values[g][s];
            if (chart.logY && v <= 0) continue;  // no place on a log axis
            const int top = chart.logY ? y(v) : y(std::max(v, 0.0));
            const int bottom = chart.logY ? y(yAxis.low) : y(std::min(v, 0.0));
            const int left = barsLeft + s * barWidth;
            canvas.fillRect(left, top, barWidth - 1, std::max(1, bottom - top), paletteColour(s));
            const std::string value = format(std::fabs(v) >= 100 ? "%.0f" : "%.3g", v);
            if (Canvas::textWidth(value, 1) <= barWidth)
                canvas.text(left + (barWidth - Canvas::textWidth(value, 1)) / 2, top - 10, value, kBlack, 1);
        }
        // Group names under their slot, smaller when they do not fit.
        const std::string& name = chart.groups[g];
        const int scale = Canvas::textWidth(name) <= slot - 4 ? 2 : 1;
        canvas.text(slotLeft + (static_cast<int>(slot) - Canvas::textWidth(name, scale)) / 2, plot.y + plot.height + 10,
                    name, kBlack, scale);
    }
    std::vector<LegendEntry> entries;
    for (int s = 0; s < static_cast<int>(chart.series.size()); ++s) entries.push_back({chart.series[s], paletteColour(s)});
    legend(canvas, area, entries);
}

}  // namespace plot
