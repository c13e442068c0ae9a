#include "pictures/ProfilePlot.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "pictures/Picture.h"

namespace host {

namespace {

// Layout, in pixels.
constexpr double kHeader = 64.0;        ///< title and the names of the marks
constexpr double kPanelHeight = 132.0;  ///< one quantity
constexpr double kPanelGap = 8.0;
constexpr double kAxisBand = 34.0;  ///< the time axis under the last panel
constexpr double kLeft = 84.0;      ///< room for the values
constexpr double kRight = 24.0;
constexpr double kFontSize = 12.0;

constexpr Rgba kBackground{0.97, 0.97, 0.96, 1};
constexpr Rgba kPanel{1, 1, 1, 1};
constexpr Rgba kFrame{0.6, 0.6, 0.6, 1};
constexpr Rgba kGrid{0.9, 0.9, 0.9, 1};
constexpr Rgba kText{0.12, 0.12, 0.12, 1};
constexpr Rgba kCurve{0.13, 0.42, 0.75, 1};
constexpr Rgba kPause{0.45, 0.6, 0.85, 0.16};
constexpr Rgba kWaypoint{0.55, 0.55, 0.55, 0.9};
constexpr Rgba kCut{0.85, 0.15, 0.15, 0.9};
constexpr Rgba kEvent{0.15, 0.6, 0.3, 0.9};
constexpr Rgba kPeak{0.85, 0.35, 0.05, 1};

void text(cairo_t* cr, double x, double y, const std::string& s, bool bold = false) {
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kFontSize);
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, s.c_str());
}

double textWidth(cairo_t* cr, const std::string& s) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, s.c_str(), &extents);
    return extents.x_advance;
}

/// 1, 2 or 5 times a power of ten, about `span / lines` (at least a millionth of the span).
double niceStep(double span, double lines) {
    if (!(span > 0) || !std::isfinite(span)) return 1.0;
    const double raw = span / lines;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * power) return m * power;
    return 10.0 * power;
}

/// A vertical mark across every panel at elapsed time `ms`.
struct Mark {
    double from, to;  ///< elapsed ms; a span when to > from
    Rgba colour;
    std::string name;  ///< written in the header band
    bool dashed = false;
};

}  // namespace

int profilePlotHeight() {
    return static_cast<int>(kHeader + kProfileQuantities.size() * (kPanelHeight + kPanelGap) + kAxisBand);
}

void writeProfilePlotFile(const std::string& path, const std::string& title, const FlightAnalysisInput& input,
                  const FlightAnalysis& analysis, const std::vector<FlightEvent>& events, int width) {
    const int height = profilePlotHeight();
    const std::vector<double> elapsed = elapsedTimes(input.ticks);
    const double duration = elapsed.empty() ? 0.0 : elapsed.back();
    const ULong first = input.ticks.empty() ? 0 : input.ticks.front().time;
    const auto since = [&](ULong time) { return static_cast<double>(static_cast<ULong>(time - first)); };

    std::vector<Mark> marks;
    for (const FlightMark& m : analysis.marks) {
        const std::string name = m.waypoint < input.waypoints.size() ? input.waypoints[m.waypoint].name : "";
        if (m.kind == FlightMark::Kind::Pause)
            marks.push_back({since(m.time), since(m.end), kPause, ""});
        else if (m.kind == FlightMark::Kind::Cut)
            marks.push_back({since(m.time), since(m.time), kCut, "cut"});
        else
            marks.push_back({since(m.time), since(m.time), kWaypoint, name});
    }
    for (const FlightEvent& e : events) {
        if (e.kind == FlightEvent::Kind::Message) {
            marks.push_back({since(e.time), since(e.time), kCut, "message", true});
        } else if (e.kind == FlightEvent::Kind::Activate || e.kind == FlightEvent::Kind::Deactivate) {
            const std::string word = e.kind == FlightEvent::Kind::Activate ? "+" : "-";
            marks.push_back({since(e.time), since(e.time), kEvent, word + e.detail, true});
        }
    }
    const std::array<ProfilePeak, 7> peaks = profilePeaks(analysis);

    writeCairoPicture(path, width, height, [&](cairo_t* cr) {
        const double plotLeft = kLeft, plotRight = width - kRight, plotWidth = std::max(1.0, plotRight - plotLeft);
        const auto x = [&](double ms) {
            return plotLeft + (duration > 0 ? std::clamp(ms / duration, 0.0, 1.0) : 0.0) * plotWidth;
        };
        setColour(cr, kBackground);
        cairo_paint(cr);
        setColour(cr, kText);
        text(cr, plotLeft, 20, title, true);

        // Names of the marks in the header band, left to right in two rows so that neighbours do
        // not collide (a name that finds no room is left out; its line still shows), kept inside
        // the picture at the right end.
        std::vector<const Mark*> named;
        for (const Mark& m : marks)
            if (!m.name.empty()) named.push_back(&m);
        std::stable_sort(named.begin(), named.end(), [](const Mark* a, const Mark* b) { return a->from < b->from; });
        double lastEnd[2] = {-1e9, -1e9};
        for (const Mark* m : named) {
            const double w = textWidth(cr, m->name);
            const double at = std::min(x(m->from) + 2, width - 4 - w);
            const int row = at > lastEnd[0] ? 0 : (at > lastEnd[1] ? 1 : -1);
            if (row < 0) continue;
            setColour(cr, m->colour);
            text(cr, at, 40 + 16 * row, m->name);
            lastEnd[row] = at + w + 6;
        }

        const double timeStep = niceStep(duration / 1000.0, 10) * 1000.0;
        for (std::size_t q = 0; q < kProfileQuantities.size(); ++q) {
            const ProfileQuantity& quantity = kProfileQuantities[q];
            const double top = kHeader + q * (kPanelHeight + kPanelGap), bottom = top + kPanelHeight;
            setColour(cr, kPanel);
            cairo_rectangle(cr, plotLeft, top, plotWidth, kPanelHeight);
            cairo_fill(cr);

            // The value range: the finite values and 0, with a little room.
            double low = 0, high = 0;
            bool any = false;
            for (const TickMeasures& t : analysis.ticks) {
                const double v = t.*quantity.member;
                if (!std::isfinite(v)) continue;
                low = std::min(low, v);
                high = std::max(high, v);
                any = true;
            }
            // A constant measure sits mid-panel; others keep a margin on both sides, so that a
            // curve along 0 does not hide under the frame.
            if (high - low <= 0) {
                const double half = std::max(1.0, std::fabs(high)) * 0.5;
                low -= half;
                high += half;
            }
            const double pad = 0.08 * (high - low);
            low -= pad;
            high += pad;
            const auto y = [&](double v) { return bottom - (v - low) / (high - low) * kPanelHeight; };

            // Grid and values.
            cairo_set_line_width(cr, 1);
            const double valueStep = niceStep(high - low, 4);
            for (double v = std::ceil(low / valueStep) * valueStep; v <= high; v += valueStep) {
                setColour(cr, kGrid);
                cairo_move_to(cr, plotLeft, std::round(y(v)) + 0.5);
                cairo_line_to(cr, plotRight, std::round(y(v)) + 0.5);
                cairo_stroke(cr);
                setColour(cr, kText);
                const std::string label = readableNumber(std::fabs(v) < valueStep * 1e-9 ? 0.0 : v);
                text(cr, plotLeft - 6 - textWidth(cr, label), y(v) + 4, label);
            }
            for (double t = 0; duration > 0 && t <= duration; t += timeStep) {
                setColour(cr, kGrid);
                cairo_move_to(cr, std::round(x(t)) + 0.5, top);
                cairo_line_to(cr, std::round(x(t)) + 0.5, bottom);
                cairo_stroke(cr);
            }

            // Marks behind the curve: spans shaded, moments as lines.
            cairo_save(cr);
            cairo_rectangle(cr, plotLeft, top, plotWidth, kPanelHeight);
            cairo_clip(cr);
            for (const Mark& m : marks) {
                setColour(cr, m.colour);
                if (m.to > m.from) {
                    cairo_rectangle(cr, x(m.from), top, std::max(1.0, x(m.to) - x(m.from)), kPanelHeight);
                    cairo_fill(cr);
                    continue;
                }
                const double dash = 4;
                cairo_set_dash(cr, &dash, m.dashed ? 1 : 0, 0);
                cairo_move_to(cr, std::round(x(m.from)) + 0.5, top);
                cairo_line_to(cr, std::round(x(m.from)) + 0.5, bottom);
                cairo_stroke(cr);
                cairo_set_dash(cr, nullptr, 0, 0);
            }

            // The curve, broken where the measure is not defined (first ticks, across a cut).
            setColour(cr, kCurve);
            cairo_set_line_width(cr, 1.5);
            bool drawing = false;
            for (std::size_t i = 0; i < analysis.ticks.size() && i < elapsed.size(); ++i) {
                const double v = analysis.ticks[i].*quantity.member;
                if (!std::isfinite(v)) {
                    drawing = false;
                    continue;
                }
                if (drawing)
                    cairo_line_to(cr, x(elapsed[i]), y(v));
                else
                    cairo_move_to(cr, x(elapsed[i]), y(v));
                drawing = true;
            }
            cairo_stroke(cr);
            if (peaks[q].defined) {
                setColour(cr, kPeak);
                cairo_arc(cr, x(elapsed[peaks[q].tick]), y(peaks[q].value), 3.5, 0, 2 * 3.14159265358979);
                cairo_fill(cr);
            }
            cairo_restore(cr);

            setColour(cr, kFrame);
            cairo_set_line_width(cr, 1);
            cairo_rectangle(cr, plotLeft + 0.5, top + 0.5, plotWidth - 1, kPanelHeight - 1);
            cairo_stroke(cr);
            setColour(cr, kText);
            text(cr, plotLeft + 8, top + 16, std::string(quantity.title) + " (" + quantity.unit + ")", true);
            const std::string peak =
                !any ? "not defined in this flight"
                     : "max " + readableNumber(peaks[q].value) + " at " + readableNumber(elapsed[peaks[q].tick] / 1000.0) + " s";
            text(cr, plotRight - 8 - textWidth(cr, peak), top + 16, peak);
        }

        // The time axis under the last panel.
        const double axis = kHeader + kProfileQuantities.size() * (kPanelHeight + kPanelGap);
        setColour(cr, kText);
        for (double t = 0; duration > 0 && t <= duration; t += timeStep) {
            const std::string label = readableNumber(t / 1000.0) + " s";
            text(cr, x(t) - textWidth(cr, label) / 2, axis + 14, label);
        }
    });
}

}  // namespace host
