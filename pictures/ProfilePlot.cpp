#include "pictures/ProfilePlot.h"

#include <algorithm>
#include <cmath>

#include "pictures/Canvas.h"

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

/// Sets the face, then writes `s` with its pen at `x`.
void text(Canvas& canvas, double x, double y, const std::string& s, bool bold = false) {
    canvas.setFont(bold ? FontFace::Bold : FontFace::Regular, kFontSize);
    canvas.text(x, y, s);
}

/// The advance of `s` in the face set last: the layout measures a text before `text` sets the
/// text's own face, so a text that follows a bold one is measured bold.
double textWidth(const Canvas& canvas, const std::string& s) { return canvas.measure(s).xAdvance; }

/// A grid step for `span` cut into about `lines`; 1 when there is no span.
double stepFor(double span, double lines) { return span > 0 && std::isfinite(span) ? niceStep(span / lines) : 1.0; }

/// A vertical mark across every panel at elapsed time `ms`.
struct Mark {
    double from, to;  ///< elapsed ms; a span when to > from
    Rgba colour;
    std::string name;  ///< written in the header band
    bool dashed = false;
};

/// The flight's marks and events as marks, at elapsed times.
std::vector<Mark> marksOf(const FlightAnalysisInput& input, const FlightAnalysis& analysis,
                          const std::vector<FlightEvent>& events) {
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
    return marks;
}

/// Time across the picture: the plot's edges and where an elapsed time lies.
struct TimeAxis {
    double left, right, width;
    double duration;  ///< ms
    double x(double ms) const { return left + (duration > 0 ? std::clamp(ms / duration, 0.0, 1.0) : 0.0) * width; }
};

/// Names of the marks in the header band, left to right in two rows so that neighbours do not
/// collide (a name that finds no room is left out; its line still shows), kept inside the
/// picture at the right end.
void drawMarkNames(Canvas& canvas, const std::vector<Mark>& marks, const TimeAxis& time, int width) {
    std::vector<const Mark*> named;
    for (const Mark& m : marks)
        if (!m.name.empty()) named.push_back(&m);
    std::stable_sort(named.begin(), named.end(), [](const Mark* a, const Mark* b) { return a->from < b->from; });
    double lastEnd[2] = {-1e9, -1e9};
    for (const Mark* m : named) {
        const double w = textWidth(canvas, m->name);
        const double at = std::min(time.x(m->from) + 2, width - 4 - w);
        const int row = at > lastEnd[0] ? 0 : (at > lastEnd[1] ? 1 : -1);
        if (row < 0) continue;
        canvas.setColour(m->colour);
        text(canvas, at, 40 + 16 * row, m->name);
        lastEnd[row] = at + w + 6;
    }
}

/// One quantity's panel: its place and value range.
struct Panel {
    double top, bottom;
    double low = 0, high = 0;  ///< the values shown, bottom to top
    bool any = false;          ///< a finite value at some tick
    double y(double v) const { return bottom - (v - low) / (high - low) * kPanelHeight; }
};

/// A panel of the picture: its quantity, and where its peak is.
struct Shown {
    const ProfileQuantity* quantity;
    ProfilePeak peak;
    const char* peakWord;  ///< "max", or "min" for the clearance
};

/// The value range: the finite values and 0, with a little room.
Panel panelFor(std::size_t slot, const ProfileQuantity& quantity, const FlightAnalysis& analysis) {
    Panel panel;
    panel.top = kHeader + slot * (kPanelHeight + kPanelGap);
    panel.bottom = panel.top + kPanelHeight;
    double& low = panel.low;
    double& high = panel.high;
    for (const TickMeasures& t : analysis.ticks) {
        const double v = t.*quantity.member;
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
        panel.any = true;
    }
    // A constant measure sits mid-panel; others keep a margin on both sides, so that a curve
    // along 0 does not hide under the frame.
    if (high - low <= 0) {
        const double half = std::max(1.0, std::fabs(high)) * 0.5;
        low -= half;
        high += half;
    }
    const double pad = 0.08 * (high - low);
    low -= pad;
    high += pad;
    return panel;
}

void drawGrid(Canvas& canvas, const Panel& panel, const TimeAxis& time, double timeStep) {
    canvas.setLineWidth(1);
    const double valueStep = stepFor(panel.high - panel.low, 4);
    for (double v = std::ceil(panel.low / valueStep) * valueStep; v <= panel.high; v += valueStep) {
        canvas.setColour(kGrid);
        canvas.moveTo(time.left, std::round(panel.y(v)) + 0.5);
        canvas.lineTo(time.right, std::round(panel.y(v)) + 0.5);
        canvas.stroke();
        canvas.setColour(kText);
        const std::string label = readableNumber(std::fabs(v) < valueStep * 1e-9 ? 0.0 : v);
        text(canvas, time.left - 6 - textWidth(canvas, label), panel.y(v) + 4, label);
    }
    for (double t = 0; time.duration > 0 && t <= time.duration; t += timeStep) {
        canvas.setColour(kGrid);
        canvas.moveTo(std::round(time.x(t)) + 0.5, panel.top);
        canvas.lineTo(std::round(time.x(t)) + 0.5, panel.bottom);
        canvas.stroke();
    }
}

/// Marks behind the curve (spans shaded, moments as lines), then the curve, broken where the
/// measure is not defined (first ticks, across a cut), and its peak.
void drawCurve(Canvas& canvas, const Panel& panel, const TimeAxis& time, const std::vector<Mark>& marks,
               const std::vector<double>& elapsed, const FlightAnalysis& analysis, const ProfileQuantity& quantity,
               const ProfilePeak& peak) {
    for (const Mark& m : marks) {
        canvas.setColour(m.colour);
        if (m.to > m.from) {
            canvas.rectangle(time.x(m.from), panel.top, std::max(1.0, time.x(m.to) - time.x(m.from)), kPanelHeight);
            canvas.fill();
            continue;
        }
        canvas.setDash(m.dashed ? 4 : 0);
        canvas.moveTo(std::round(time.x(m.from)) + 0.5, panel.top);
        canvas.lineTo(std::round(time.x(m.from)) + 0.5, panel.bottom);
        canvas.stroke();
        canvas.setDash(0);
    }

    canvas.setColour(kCurve);
    canvas.setLineWidth(1.5);
    bool drawing = false;
    for (std::size_t i = 0; i < analysis.ticks.size() && i < elapsed.size(); ++i) {
        const double v = analysis.ticks[i].*quantity.member;
        if (!std::isfinite(v)) {
            drawing = false;
            continue;
        }
        if (drawing)
            canvas.lineTo(time.x(elapsed[i]), panel.y(v));
        else
            canvas.moveTo(time.x(elapsed[i]), panel.y(v));
        drawing = true;
    }
    canvas.stroke();
    if (peak.defined) {
        canvas.setColour(kPeak);
        canvas.circle(time.x(elapsed[peak.tick]), panel.y(peak.value), 3.5);
        canvas.fill();
    }
}

/// The panel's frame, its quantity's name and where its peak is.
void drawPanelFrame(Canvas& canvas, const Panel& panel, const TimeAxis& time, const Shown& shown,
                    const std::vector<double>& elapsed) {
    const ProfileQuantity& quantity = *shown.quantity;
    const ProfilePeak& peak = shown.peak;
    canvas.setColour(kFrame);
    canvas.setLineWidth(1);
    canvas.rectangle(time.left + 0.5, panel.top + 0.5, time.width - 1, kPanelHeight - 1);
    canvas.stroke();
    canvas.setColour(kText);
    text(canvas, time.left + 8, panel.top + 16, std::string(quantity.title) + " (" + quantity.unit + ")", true);
    const std::string where = !panel.any ? "not defined in this flight"
                                         : shown.peakWord + (" " + readableNumber(peak.value)) + " at " +
                                               readableNumber(elapsed[peak.tick] / 1000.0) + " s";
    text(canvas, time.right - 8 - textWidth(canvas, where), panel.top + 16, where);
}

}  // namespace

int profilePlotHeight(bool level) {
    const std::size_t panels = kProfileQuantities.size() + (level ? 1 : 0);
    return static_cast<int>(kHeader + panels * (kPanelHeight + kPanelGap) + kAxisBand);
}

void writeProfilePlotFile(const std::string& path, const std::string& title, const FlightAnalysisInput& input,
                          const FlightAnalysis& analysis, const std::vector<FlightEvent>& events, int width) {
    const std::vector<double> elapsed = elapsedTimes(input.ticks);
    const std::vector<Mark> marks = marksOf(input, analysis, events);
    const std::array<ProfilePeak, 7> peaks = profilePeaks(analysis);
    std::vector<Shown> shown;
    for (std::size_t q = 0; q < kProfileQuantities.size(); ++q)
        shown.push_back({&kProfileQuantities[q], peaks[q], "max"});
    if (analysis.level) shown.push_back({&kClearanceQuantity, clearancePeak(analysis), "min"});
    const double right = width - kRight;
    const TimeAxis time{kLeft, right, std::max(1.0, right - kLeft), elapsed.empty() ? 0.0 : elapsed.back()};

    writeCanvasFile(path, width, profilePlotHeight(analysis.level), [&](Canvas& canvas) {
        canvas.paint(kBackground);
        canvas.setColour(kText);
        text(canvas, time.left, 20, title, true);
        drawMarkNames(canvas, marks, time, width);

        const double timeStep = stepFor(time.duration / 1000.0, 10) * 1000.0;
        for (std::size_t q = 0; q < shown.size(); ++q) {
            const Panel panel = panelFor(q, *shown[q].quantity, analysis);
            canvas.setColour(kPanel);
            canvas.rectangle(time.left, panel.top, time.width, kPanelHeight);
            canvas.fill();
            drawGrid(canvas, panel, time, timeStep);
            canvas.clipped(time.left, panel.top, time.width, kPanelHeight, [&] {
                drawCurve(canvas, panel, time, marks, elapsed, analysis, *shown[q].quantity, shown[q].peak);
            });
            drawPanelFrame(canvas, panel, time, shown[q], elapsed);
        }

        // The time axis under the last panel.
        const double axis = kHeader + shown.size() * (kPanelHeight + kPanelGap);
        canvas.setColour(kText);
        canvas.setFont(FontFace::Regular, kFontSize);
        for (double t = 0; time.duration > 0 && t <= time.duration; t += timeStep) {
            const std::string label = readableNumber(t / 1000.0) + " s";
            canvas.text(time.x(t), axis + 14, label, TextAnchor::Centre);
        }
    });
}

}  // namespace host
