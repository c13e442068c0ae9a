#pragma once
/// A flight's profile as a picture: the measures of flight/FlightProfile.h as stacked panels
/// over time, PNG or SVG, with the flight's marks.

#include <string>
#include <vector>

#include "flight/FlightProfile.h"

namespace host {

/// Writes the panels as PNG or SVG (by the extension of `path`), `width` wide, with a title and
/// the flight's marks; the clearance's panel last, where the analysis has a level: waypoints reached (named), pauses
/// (shaded), cuts, and the activations, deactivation and messages of `events`. Throws as `writeCanvasFile`.
void writeProfilePlotFile(const std::string& path, const std::string& title, const FlightAnalysisInput& input,
                          const FlightAnalysis& analysis, const std::vector<FlightEvent>& events, int width = 1600);

/// The height of the picture `writeProfilePlotFile` makes: a band for the title and the names, a panel
/// per quantity (and one for the clearance of a flight measured against a level), and the time axis.
int profilePlotHeight(bool level = false);

}  // namespace host
