#include "flight/lint/LintFix.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <utility>

#include "base/InputError.h"
#include "flight/lint/Linter.h"
#include "scene/SceneEditor.h"

namespace host {

namespace {

constexpr std::uint64_t kLargestTime = std::numeric_limits<ULong>::max();

/// One attribute of one object: the edit a fix makes.
std::pair<std::string, EditEntry> attributeEdit(const std::string& object, const std::string& attribute,
                                                EditEntry::Value value) {
    EditEntry entry;
    entry.attributes.emplace_back(attribute, std::move(value));
    return {object, std::move(entry)};
}

/// The ease flags of a path's stops, as the iterator's laws read them (FlightChecks.cpp's
/// EaseLaw): segment k is eased when stop k or k+1 has EaseIn; its law ends at rest (slow end,
/// or both) unless it is the slow start (EaseIn and EaseOut on k, no EaseIn on k+1), and starts
/// from rest when k has EaseOut and either end EaseIn. So at stop k
///   arrives at rest   = in[k] or (in[k-1] and not out[k-1])
///   leaves from rest  = out[k] and (in[k] or in[k+1])
/// and where one is true and the other not, the speed jumps from or to nothing, whatever the
/// times: the distance fit's pace runs on through a waypoint.
struct EaseFlags {
    std::vector<bool> in, out;

    bool restsOnArrival(std::size_t k) const { return in[k] || (in[k - 1] && !out[k - 1]); }
    bool restsOnDeparture(std::size_t k) const { return out[k] && (in[k] || in[k + 1]); }
};

/// Stop j is one where the speed check compares the speeds either side: between two flown
/// segments, without a pause.
bool judged(const std::vector<Stop>& stops, std::size_t flown, std::size_t j) {
    return j >= 1 && j + 1 < flown && stops[j - 1].time2Next != 0 && stops[j].time2Next != 0 && stops[j].pause == 0;
}

}  // namespace

std::optional<LintFix> rollFix(const std::vector<Stop>& stops, std::size_t b, std::size_t end) {
    // Whole turns keep every other turn of the part as it was: only the one into b changes.
    const double turns = std::round((stops[b].roll - stops[b - 1].roll) / 360.0);
    LintFix fix;
    for (std::size_t j = b; j < end; ++j) {
        if (!stops[j].rollAttribute) return std::nullopt;
        fix.edits.push_back(attributeEdit(stops[j].name, "Roll", static_cast<float>(stops[j].roll - 360.0 * turns)));
    }
    const std::string by = "Roll " + std::string(turns > 0 ? "-" : "+") + lintNumber(std::fabs(360.0 * turns));
    fix.label = "roll " + stops[b].name + " the short way (" + by +
                (end - b > 1 ? " on " + stops[b].name + "-" + stops[end - 1].name : std::string()) + ")";
    return fix;
}

std::optional<LintFix> mergeFix(Host& host, const std::vector<Stop>& stops, std::size_t a, std::size_t first,
                                std::size_t end) {
    // The later waypoint goes and the earlier takes its flight on, its pause kept as a pause:
    // the path's total time stays. A part's last waypoint ends the part (a cut or the end), so
    // there the earlier one goes, the one before it taking its standing time as flight.
    const bool last = a + 2 == end;
    if (last && (a == first || stops[a].pause != 0)) return std::nullopt;
    const Stop& gone = last ? stops[a] : stops[a + 1];
    const Stop& keeper = last ? stops[a - 1] : stops[a];
    const Handle goneHandle = host.find(gone.name);
    // A merge that would clear another object's reference changes more than the path.
    if (goneHandle.IsNull() || !SceneEditor(host).referrers(goneHandle).empty()) return std::nullopt;
    const std::uint64_t time = std::uint64_t{keeper.time2Next} + gone.time2Next;
    const std::uint64_t pause = std::uint64_t{keeper.pause} + (last ? 0 : gone.pause);
    if (time > kLargestTime || pause > kLargestTime) return std::nullopt;
    LintFix fix;
    fix.label = "merge " + gone.name + " into " + (last ? stops[a + 1].name : keeper.name);
    fix.edits.push_back(attributeEdit(keeper.name, "Time2Next", static_cast<ULong>(time)));
    if (pause != keeper.pause) fix.edits.push_back(attributeEdit(keeper.name, "PauseTime", static_cast<ULong>(pause)));
    fix.remove = gone.name;
    return fix;
}

LintFix clearFix(const Stop& stop, const char* attribute) {
    const std::string name = attribute;
    LintFix fix;
    fix.label = "clear " + stop.name + "'s " + name;
    fix.edits.push_back(
        attributeEdit(stop.name, name, name == "PauseTime" ? EditEntry::Value(ULong{0}) : EditEntry::Value(false)));
    return fix;
}

std::optional<LintFix> easeFix(const std::vector<Stop>& stops, std::size_t flown, std::size_t k) {
    EaseFlags flags;
    for (const Stop& stop : stops) flags.in.push_back(stop.easeIn), flags.out.push_back(stop.easeOut);
    auto mismatched = [&](const EaseFlags& f, std::size_t j) {
        return judged(stops, flown, j) && f.restsOnArrival(j) != f.restsOnDeparture(j);
    };
    // A jump the flags do not explain (a segment without length beside it) has no fix of its own.
    if (!mismatched(flags, k)) return std::nullopt;

    // One flag, or failing that two, of the stops either side and this one, in the order a
    // designer would reach for them: complete an ease (EaseOut where EaseIn stops the camera),
    // ask for a stop, then take a flag away. The first change that makes the laws agree at k and
    // no new disagreement at the stops whose laws it touches (k - 2 to k + 2).
    struct Flip {
        bool in;  ///< EaseIn, or EaseOut
        int at;   ///< of stop k + at
        bool value;
    };
    const Flip preferred[] = {{false, -1, true}, {false, 0, true},  {true, 0, true},   {true, 1, true},
                              {false, 1, true},  {false, 0, false}, {true, -1, false}, {true, 0, false},
                              {true, 1, false},  {false, 1, false}, {false, -1, false}, {true, -1, true}};
    std::vector<Flip> flips;
    for (const Flip& flip : preferred) {
        const std::size_t j = k + flip.at;
        if (j < stops.size() && (flip.in ? flags.in : flags.out)[j] != flip.value) flips.push_back(flip);
    }
    auto works = [&](const std::vector<Flip>& change) {
        EaseFlags changed = flags;
        for (const Flip& flip : change) (flip.in ? changed.in : changed.out)[k + flip.at] = flip.value;
        if (mismatched(changed, k)) return false;
        for (std::size_t w = k >= 2 ? k - 2 : 0; w <= k + 2 && w < stops.size(); ++w)
            if (mismatched(changed, w) && !mismatched(flags, w)) return false;
        return true;
    };
    auto fixOf = [&](const std::vector<Flip>& change) {
        LintFix fix;
        for (const Flip& flip : change) {
            const std::string& name = stops[k + flip.at].name;
            const char* attribute = flip.in ? "EaseIn" : "EaseOut";
            fix.label += (fix.label.empty() ? "" : " and ") + std::string(flip.value ? "set " : "clear ") + name +
                         "'s " + attribute;
            fix.edits.push_back(attributeEdit(name, attribute, flip.value));
        }
        return fix;
    };
    for (const Flip& flip : flips)
        if (works({flip})) return fixOf({flip});
    for (std::size_t a = 0; a < flips.size(); ++a)
        for (std::size_t b = a + 1; b < flips.size(); ++b)
            if (works({flips[a], flips[b]})) return fixOf({flips[a], flips[b]});
    return std::nullopt;
}

void applyLintFixChanges(SceneEditor& editor, Host& host, const LintFix& fix) {
    auto named = [&](const std::string& name) {
        const Handle object = host.find(name);
        if (object.IsNull()) throw InputError("", name, "", "no object of the scene has this name any more");
        return object;
    };
    for (const auto& [name, entry] : fix.edits) editor.edit(named(name), editEntryJson(entry), {});
    if (!fix.remove.empty()) editor.remove(named(fix.remove));
}

void applyLintFix(SceneEditor& editor, Host& host, const LintFix& fix) {
    editor.group(fix.label, [&] { applyLintFixChanges(editor, host, fix); });
}

LintFixRun fixLintFindings(SceneEditor& editor, Host& host, const std::function<std::vector<LintFinding>()>& lint,
                           bool ownSteps) {
    // A finding and its fix by what they say: the same after a fix that did not take.
    auto key = [](const LintFinding& f) { return f.id + '\n' + f.object + '\n' + f.fix->label; };
    LintFixRun run;
    std::set<std::string> tried;
    std::vector<LintFinding> findings = lint();
    for (std::size_t tries = 0; tries < kMaxLintFixes; ++tries) {
        const auto next = std::find_if(findings.begin(), findings.end(),
                                       [&](const LintFinding& f) { return f.fix && !tried.count(key(f)); });
        if (next == findings.end()) break;
        const LintFinding finding = *next;
        tried.insert(key(finding));
        if (ownSteps)
            applyLintFix(editor, host, *finding.fix);
        else
            applyLintFixChanges(editor, host, *finding.fix);
        std::vector<LintFinding> after = lint();
        const bool stays = std::any_of(after.begin(), after.end(),
                                       [&](const LintFinding& f) { return f.fix && key(f) == key(finding); });
        if (stays && ownSteps) {
            editor.undo();
            continue;
        }
        if (!stays) run.fixed.push_back(finding);
        findings = std::move(after);
    }
    run.remaining = std::move(findings);
    return run;
}

}  // namespace host
