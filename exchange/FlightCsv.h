#pragma once
/// Flights as CSV, `camsys fly`'s table: the header `kFlightColumns` (flight/Flight.h), then one
/// line per tick. Written by `fly`, read back by `import` as a recorded camera move.

#include <string>
#include <vector>

#include "flight/Flight.h"
#include "flight/PathFit.h"

namespace host {

/// The flight as CSV: the header, then one line per tick; floats as `floatToDecimal` writes them
/// (the shortest text that reads back as the same float).
std::string flightToCsv(const FlightRecording& flight);

/// The samples of a CSV with `camsys fly`'s header (time, waypoint, x, y, z, m00 ... m22, fov);
/// the waypoint column is not read. Throws InputError (naming `file` and the line) for another
/// header, a short row, a value that is not a number, and for what `checkRecording` refuses.
std::vector<RecordedEye> flightFromCsv(const std::string& text, const std::string& file);

/// `flightFromCsv` of the file at `path`; InputError when it cannot be read.
std::vector<RecordedEye> loadFlightCsvFile(const std::string& path);

}  // namespace host
