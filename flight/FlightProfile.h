#pragma once
/// A flight's profile for a report: the analysis's measures over time, each measure's largest
/// value and where it occurs, and the table behind them; pictures/ProfilePlot.h draws them. The
/// measures are the studio's (flight/FlightAnalysis.h); nothing is computed a second way here.

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "flight/FlightAnalysis.h"

namespace host {

/// One measure of the profile, a panel of the picture.
struct ProfileQuantity {
    const char* key;    ///< column name of the table ("speed")
    const char* title;  ///< panel title ("speed")
    const char* unit;   ///< "units/s"
    double TickMeasures::*member;
};

/// The measures in panel order: speed, acceleration, jerk, angular rate, roll rate, field of
/// view, distance to the look-at target.
extern const std::array<ProfileQuantity, 7> kProfileQuantities;

/// The level's measure, a panel and a column of its own only for a flight measured against a
/// level (`FlightAnalysis::level`): the eye's distance to the nearest surface. Its peak is its
/// least value.
extern const ProfileQuantity kClearanceQuantity;

/// Where a measure is largest in magnitude (the signed value is kept: a roll rate of -90 is the
/// peak over one of 60). `tick` is an index into the flight; nothing when the measure is
/// defined at no tick (a flight without a target has no target distance).
struct ProfilePeak {
    bool defined = false;
    double value = 0;
    std::size_t tick = 0;
};

/// The peak of every quantity of `kProfileQuantities`, in that order. Ties go to the first tick.
std::array<ProfilePeak, 7> profilePeaks(const FlightAnalysis& analysis);

/// Where the clearance is least; nothing without a level.
ProfilePeak clearancePeak(const FlightAnalysis& analysis);

/// Milliseconds since the first tick for every tick, going on across the clock's wrap.
std::vector<double> elapsedTimes(const std::vector<FlightTick>& ticks);

/// The printed summary: a line per quantity with its peak, the time (seconds since the first
/// tick), the tick and the waypoint the camera was leaving, or "not defined in this flight";
/// against a level, last, the least clearance.
std::string profileSummary(const FlightAnalysisInput& input, const FlightAnalysis& analysis);

/// The table behind the panels as CSV: time, waypoint, then the quantities' keys; an undefined
/// value is an empty field, numbers the shortest decimals that read back to the same double;
/// against a level a last column, clearance.
std::string profileToCsv(const FlightAnalysisInput& input, const FlightAnalysis& analysis);

/// `value` as "%.4g" writes it: numbers for people, in the summary and on the plot's axes.
std::string readableNumber(double value);

}  // namespace host
