#include "flight/lint/Lint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

#include "base/Decimal.h"
#include "flight/lint/Linter.h"
#include "scene/AttributeValues.h"
#include "scene/SceneTree.h"

namespace host {

std::string lintNumber(double x) {
    if (std::isnan(x)) return "NaN";
    if (std::isinf(x)) return x > 0 ? "infinity" : "-infinity";
    char text[48];
    if (std::fabs(x) >= 999.5)
        std::snprintf(text, sizeof text, "%.0f", x);
    else
        std::snprintf(text, sizeof text, "%.3g", x);
    return text;
}

LintFinding* Linter::add(std::string_view id, LintSeverity severity, const std::string& object, std::optional<ULong> time,
                 std::optional<double> distance, std::string text, std::optional<ULong> until) {
    // Iterators flying one path find its speed faults alike: each is said once.
    if (!seen_.emplace(std::string(id), object, time, distance, text).second) return nullptr;
    return &findings.emplace_back(LintFinding{std::string(id), severity, object, time, distance, std::move(text), until, {}});
}

std::vector<LintFinding> lintScene(Host& host, const LintOptions& options, const LintFlight& fly) {
    const std::vector<Handle> objects = sceneObjects(host);

    Linter linter(host, options);
    std::vector<std::pair<Handle, PathStops>> paths;
    std::vector<Handle> iterators;
    for (const Handle& object : objects) {
        checkReferences(linter, object);
        checkValues(linter, object);
        if (CInterfacePtr<ISCO_CSPath>(object)) paths.emplace_back(object, checkPath(linter, object));
        if (object.GetInterface(kIdHasEye, nullptr)) iterators.push_back(object);
    }

    if (options.iterator) iterators = {*options.iterator};
    const FlightOptions flightOptions{options.start, options.step, options.maxTicks};
    for (const Handle& iterator : iterators) {
        const std::optional<Handle> pathObject = host.getReference(iterator, "Path");
        const auto flown = std::find_if(paths.begin(), paths.end(),
                                        [&](const auto& path) { return pathObject && path.first == *pathObject; });
        if (flown == paths.end() || flown->second.flown < 2) continue;
        const FlightRecording recording =
            fly ? fly(iterator, flightOptions) : recordFlight(host, iterator, flightOptions);
        checkFlight(linter, flown->second, recording);
        if (options.level) checkFlightInLevel(linter, iterator, flown->second, recording);
    }

    // By object in scene order, then by check; a check's findings stay in the order found
    // (along the path, along the flight).
    std::map<std::string, std::size_t> place;
    for (std::size_t i = 0; i < objects.size(); ++i) place.emplace(host.nameOf(objects[i]), i);
    const std::span<const std::string_view> order = lintCheckOrder();
    auto rank = [&](const LintFinding& f) {
        const auto found = place.find(f.object);
        const std::size_t check = std::find(order.begin(), order.end(), f.id) - order.begin();
        return std::pair(found == place.end() ? objects.size() : found->second, check);
    };
    std::vector<LintFinding> findings = std::move(linter.findings);
    std::stable_sort(findings.begin(), findings.end(),
                     [&](const LintFinding& a, const LintFinding& b) { return rank(a) < rank(b); });
    return findings;
}

bool lintFails(const std::vector<LintFinding>& findings) {
    return std::any_of(findings.begin(), findings.end(),
                       [](const LintFinding& f) { return f.severity != LintSeverity::Info; });
}

std::string lintText(const std::string& file, const std::vector<LintFinding>& findings) {
    std::string out;
    for (const LintFinding& f : findings)
        out += file + ": " + f.object + ": " + f.id + ": " + f.text + "\n  hint: " + lintHint(f.id) + "\n";
    return out;
}

std::string lintJson(const std::vector<LintFinding>& findings, bool fixes) {
    std::string out = "[";
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const LintFinding& f = findings[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"id\":" + jsonString(f.id) + ",\"severity\":" + jsonString(severityWord(f.severity)) +
               ",\"object\":" + jsonString(f.object) + ",\"time\":" + (f.time ? std::to_string(*f.time) : "null") +
               ",\"distance\":" +
               (f.distance && std::isfinite(*f.distance) ? floatToDecimal(static_cast<float>(*f.distance)) : "null") +
               ",\"text\":" + jsonString(f.text) + ",\"hint\":" + jsonString(lintHint(f.id)) +
               (f.until ? ",\"until\":" + std::to_string(*f.until) : std::string()) +
               (fixes && f.fix ? ",\"fix\":" + jsonString(f.fix->label) : std::string()) + "}";
    }
    out += findings.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace host
