#include "flight/FlightProfile.h"

#include <cmath>
#include <cstdio>

#include "base/Decimal.h"

namespace host {

const std::array<ProfileQuantity, 7> kProfileQuantities = {{
    {"speed", "speed", "units/s", &TickMeasures::speed},
    {"acceleration", "acceleration", "units/s\u00b2", &TickMeasures::acceleration},
    {"jerk", "jerk", "units/s\u00b3", &TickMeasures::jerk},
    {"angular_rate", "angular rate of the view", "\u00b0/s", &TickMeasures::angularRate},
    {"roll_rate", "roll rate", "\u00b0/s", &TickMeasures::rollRate},
    {"fov", "field of view", "factor", &TickMeasures::fov},
    {"target_distance", "distance to the look-at target", "units", &TickMeasures::targetDistance},
}};

const ProfileQuantity kClearanceQuantity = {"clearance", "clearance to the level", "units", &TickMeasures::clearance};

ProfilePeak clearancePeak(const FlightAnalysis& analysis) {
    ProfilePeak peak;
    if (!analysis.level) return peak;
    for (std::size_t i = 0; i < analysis.ticks.size(); ++i) {
        const double value = analysis.ticks[i].clearance;
        if (std::isfinite(value) && (!peak.defined || value < peak.value)) peak = {true, value, i};
    }
    return peak;
}

std::array<ProfilePeak, 7> profilePeaks(const FlightAnalysis& analysis) {
    std::array<ProfilePeak, 7> peaks{};
    for (std::size_t q = 0; q < kProfileQuantities.size(); ++q) {
        ProfilePeak& peak = peaks[q];
        for (std::size_t i = 0; i < analysis.ticks.size(); ++i) {
            const double value = analysis.ticks[i].*kProfileQuantities[q].member;
            if (!std::isfinite(value)) continue;
            if (!peak.defined || std::fabs(value) > std::fabs(peak.value)) peak = {true, value, i};
        }
    }
    return peaks;
}

std::vector<double> elapsedTimes(const std::vector<FlightTick>& ticks) {
    std::vector<double> elapsed(ticks.size(), 0.0);
    for (std::size_t i = 1; i < ticks.size(); ++i)
        elapsed[i] = elapsed[i - 1] + static_cast<ULong>(ticks[i].time - ticks[i - 1].time);
    return elapsed;
}

std::string readableNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

namespace {

/// The name of the waypoint the camera leaves at `tick` (its segment's first waypoint).
std::string waypointAt(const FlightAnalysisInput& input, std::size_t tick) {
    const ULong index = input.ticks[tick].waypoint;
    if (index < input.waypoints.size() && !input.waypoints[index].name.empty()) return input.waypoints[index].name;
    return "waypoint " + std::to_string(index);
}

}  // namespace

std::string profileSummary(const FlightAnalysisInput& input, const FlightAnalysis& analysis) {
    const std::array<ProfilePeak, 7> peaks = profilePeaks(analysis);
    const std::vector<double> elapsed = elapsedTimes(input.ticks);
    std::string out;
    auto line = [&](const ProfileQuantity& quantity, const ProfilePeak& peak, const char* word) {
        out += quantity.key;
        out += ": ";
        if (!peak.defined) {
            out += "not defined in this flight\n";
            return;
        }
        const std::size_t i = peak.tick;
        out += word + (" " + readableNumber(peak.value)) + " " + quantity.unit + " at " +
               readableNumber(elapsed[i] / 1000.0) + " s (tick " + std::to_string(i) + ", time " +
               std::to_string(input.ticks[i].time) + ", leaving " + waypointAt(input, i) + ")\n";
    };
    for (std::size_t q = 0; q < kProfileQuantities.size(); ++q) line(kProfileQuantities[q], peaks[q], "max");
    if (analysis.level) line(kClearanceQuantity, clearancePeak(analysis), "min");
    return out;
}

std::string profileToCsv(const FlightAnalysisInput& input, const FlightAnalysis& analysis) {
    std::string csv = "time,waypoint";
    std::vector<ProfileQuantity> columns(kProfileQuantities.begin(), kProfileQuantities.end());
    if (analysis.level) columns.push_back(kClearanceQuantity);
    for (const ProfileQuantity& quantity : columns) csv += std::string(",") + quantity.key;
    csv += '\n';
    for (std::size_t i = 0; i < input.ticks.size() && i < analysis.ticks.size(); ++i) {
        csv += std::to_string(input.ticks[i].time) + "," + std::to_string(input.ticks[i].waypoint);
        for (const ProfileQuantity& quantity : columns) {
            const double value = analysis.ticks[i].*quantity.member;
            csv += ',';
            if (std::isfinite(value)) csv += doubleToDecimal(value);
        }
        csv += '\n';
    }
    return csv;
}

}  // namespace host
