#include "flight/lint/Checks.h"

#include <algorithm>

namespace host {

namespace {

/// The order in which the findings of one object are listed: what breaks the scene, then the
/// path's shape, then the flight.
constexpr std::string_view kCheckOrder[] = {
    "dangling-reference", "bad-fov",         "bad-range",  "switched-off",    "single-waypoint-part",
    "short-segment",      "roll-long-way",   "overshoot",  "time-backward",   "view-vertical",
    "cut-with-ease",      "clock-wrap",      "speed-jump", "acceleration",    "jerk",
    "through-geometry",   "inside-geometry", "clearance",  "target-occluded",
};

constexpr std::size_t kTextWidth = 100;

/// Markdown to plain text: no code marks, bars unescaped, powers spelled with ^.
std::string plain(std::string_view markdown) {
    std::string out;
    for (std::size_t i = 0; i < markdown.size(); ++i) {
        if (markdown[i] == '`') continue;
        if (markdown.compare(i, 2, "\\|") == 0) {
            out += '|';
            ++i;
        } else if (markdown.compare(i, 2, "²") == 0) {
            out += "^2";
            ++i;
        } else if (markdown.compare(i, 2, "³") == 0) {
            out += "^3";
            ++i;
        } else {
            out += markdown[i];
        }
    }
    return out;
}

/// `text` as lines of at most kTextWidth columns (a longer word stands alone), the first
/// indented by `first` spaces, the others by `rest`.
std::string wrapped(const std::string& text, std::size_t first, std::size_t rest) {
    std::string out, line(first, ' ');
    std::size_t indent = first;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t space = text.find(' ', at);
        const std::size_t end = space == std::string::npos ? text.size() : space;
        const std::string_view word(text.data() + at, end - at);
        if (line.size() > indent && line.size() + 1 + word.size() > kTextWidth) {
            out += line + "\n";
            indent = rest;
            line.assign(rest, ' ');
        }
        if (line.size() > indent) line += ' ';
        line += word;
        at = end + 1;
    }
    return out + line + "\n";
}

}  // namespace

const char* severityWord(LintSeverity severity) {
    switch (severity) {
        case LintSeverity::Info:
            return "info";
        case LintSeverity::Warning:
            return "warning";
        case LintSeverity::Error:
            return "error";
    }
    return "warning";
}

const std::vector<LintCheck>& lintChecks() {
    using enum LintSeverity;
    static const std::vector<LintCheck> checks = {
        {{"time-backward"},
         Warning,
         "a segment's distance over time (`CalcDistanceAtTime` on [0, `Time2Next`]) falls: the camera flies back",
         "a fall above 1e-6 of the distance",
         "give the segment a `Time2Next` in line with its neighbours' for the distance it covers"},
        {{"overshoot"},
         Warning,
         "the eye along a segment leaves the box of its two waypoints' eyes",
         "0.25 of the eyes' distance (`--overshoot`), at least 0.01 units",
         "add a waypoint where the curve swings out, or space the waypoints' eyes and views more evenly"},
        {{"speed-jump"},
         Warning,
         "the speeds over the last tick before a waypoint without a pause and the first after it differ",
         "ratio 3 (`--speed-jump`)",
         "set or clear `EaseIn`/`EaseOut` so that the waypoint is reached and left alike (both at rest or neither), or give it a `PauseTime`"},
        {{"acceleration", "jerk"},
         Warning,
         "a run of ticks above the threshold (in an eased stretch above its ease's own peak times 1.25, where that is "
         "higher), at its peak; not where a speed jump (or, for jerk, an acceleration peak) explains it",
         "200 units/s² (`--acceleration`), 10000 units/s³ (`--jerk`)",
         "give the segments around it more `Time2Next`, ease the start or stop (`EaseIn`, `EaseOut`), or add a "
         "`PauseTime` where two eases meet"},
        {{"roll-long-way"},
         Warning,
         "`Roll` changes by more than 180 degrees between neighbours: the fit turns the long way",
         "180 degrees",
         "add or subtract 360 from one of the two `Roll` values so that it turns the short way"},
        {{"view-vertical"},
         Warning,
         "the fitted view vector comes near straight up or down, where roll is undefined",
         "2 degrees (`--vertical`)",
         "tilt the view a few degrees off the vertical (the orientation, or the `PointsTo` object's height)"},
        {{"short-segment"},
         Warning,
         "neighbours with the same eye and view (\\|dP\\| + \\|dQ\\|): the camera stands still for `Time2Next`",
         "0.01 units",
         "merge the waypoint into its neighbour or move it apart"},
        {{"cut-with-ease"},
         Warning,
         "on a cut (`Time2Next` 0, not the last waypoint): `EaseIn` (the camera slows to a stop before the cut), "
         "`EaseOut` (no effect) or a pause (held before the cut); a pause on the waypoint after it (held at the cut, "
         "not there)",
         "",
         "clear the cut's `EaseIn`, `EaseOut` and `PauseTime` and the `PauseTime` after it, or give the cut a "
         "`Time2Next` to fly"},
        {{"single-waypoint-part"},
         Warning,
         "a part of one waypoint: held only for the pauses between two cuts, never shown at the end",
         "",
         "give the cut before it a `Time2Next` so the part joins its neighbour, or delete the waypoint"},
        {{"clock-wrap"},
         Warning,
         "started at `--start`, the flight is still on at the last tick before 2^32: if that segment ends past "
         "2^32 the flight ends at once; if not, the tick after the wrap compares as earlier than the segment's end "
         "and the camera holds there for good",
         "",
         "start the flight (`--start`) so that it ends before the clock reaches 2^32, or shorten it"},
        {{"dangling-reference"},
         Error,
         "`Path` naming nothing or no path; `PointsTo` or `MovingDestination` naming an object not in the scene, "
         "the object itself or one without a position (a path, an iterator)",
         "",
         "name an object of the scene of the right kind (a path for `Path`, one with a position otherwise), or clear "
         "it"},
        {{"switched-off"},
         Info,
         "a switched-off waypoint; a warning between switched-on ones: the iterator takes the one before it for "
         "the last and ends the flight there",
         "",
         "switch it on (`IsOn`) or delete it; one that should stay off goes after the last switched-on waypoint"},
        {{"bad-fov", "bad-range"},
         Error,
         "`FOVFac`, `Range` not above 0 or not finite",
         "",
         "set it to a finite number above 0 (1 is the default)"},
        {{"through-geometry"},
         Error,
         "the path's curve between two waypoints (64 samples a segment) or the eye's straight move from one tick to "
         "the next crosses a surface of the level",
         "",
         "move the waypoints either side so that the path goes around the surface, or add a waypoint that leads it "
         "around"},
        {{"inside-geometry"},
         Error,
         "a run of ticks with the eye inside a closed mesh of the level or below its ground (a ray straight up "
         "crosses its surfaces an odd number of times)",
         "",
         "raise the waypoints of that stretch above the ground, or move them out of the solid"},
        {{"clearance"},
         Warning,
         "a run of ticks with the eye nearer to a surface of the level than the threshold, at its closest",
         "0.5 units (`--clearance`)",
         "move the waypoints of that stretch away from the surface, or add one that keeps the path off it"},
        {{"target-occluded"},
         Warning,
         "the look-at target (the waypoint's `PointsTo` object, or the iterator's `MovingDestination`) hidden "
         "behind a surface of the level for longer than the threshold",
         "250 ms (`--occluded`)",
         "move the waypoints so that the camera sees past the surface, or move the target into sight"},
    };
    return checks;
}

std::string lintHint(std::string_view id) {
    for (const LintCheck& check : lintChecks())
        if (std::find(check.ids.begin(), check.ids.end(), id) != check.ids.end()) return plain(check.hint);
    return {};
}

std::span<const std::string_view> lintCheckOrder() { return kCheckOrder; }

std::string lintCheckTableMarkdown() {
    std::string out = "| id | severity | finds | threshold | hint |\n|---|---|---|---|---|\n";
    for (const LintCheck& check : lintChecks()) {
        std::string ids;
        for (const std::string_view id : check.ids) ids += (ids.empty() ? "`" : ", `") + std::string(id) + "`";
        for (const std::string_view cell : {std::string_view(ids), std::string_view(severityWord(check.severity)),
                                            check.finds, check.threshold, check.hint})
            out += cell.empty() ? "| " : "| " + std::string(cell) + " ";
        out += "|\n";
    }
    return out;
}

std::string lintCheckTableText() {
    std::string out = "Checks:\n";
    for (const LintCheck& check : lintChecks()) {
        std::string ids;
        for (const std::string_view id : check.ids) ids += (ids.empty() ? "" : ", ") + std::string(id);
        std::string line = ids + " (" + severityWord(check.severity) + "): " + plain(check.finds) + ".";
        if (!check.threshold.empty()) line += " Threshold: " + plain(check.threshold) + ".";
        line += " Hint: " + plain(check.hint) + ".";
        out += wrapped(line, 2, 6);
    }
    return out;
}

}  // namespace host
