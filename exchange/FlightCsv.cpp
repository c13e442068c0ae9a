#include "exchange/FlightCsv.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/Decimal.h"
#include "base/InputError.h"

namespace host {

namespace {

/// The header line, without the line end.
std::string headerLine() {
    std::string line;
    for (const char* column : kFlightColumns) {
        if (!line.empty()) line += ',';
        line += column;
    }
    return line;
}

[[noreturn]] void refuse(const std::string& file, const std::string& where, const std::string& why) {
    throw InputError(file, where, "", why);
}

/// One row of 15 fields as a sample; `where` names the line.
RecordedEye sampleFromRow(const std::string& line, const std::string& file, const std::string& where) {
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    if (fields.size() != 15) refuse(file, where, "has " + std::to_string(fields.size()) + " fields, not 15");
    RecordedEye sample;
    std::uint64_t time = 0;
    const auto [end, error] = std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), time);
    if (error != std::errc() || end != fields[0].data() + fields[0].size() || time > 0xFFFFFFFFu)
        refuse(file, where, "time \"" + fields[0] + "\" is no whole number from 0 to 4294967295");
    sample.time = static_cast<ULong>(time);
    float values[13];
    for (int k = 0; k < 13; ++k) {
        const std::string& field = fields[2 + k];
        const auto [at, problem] = std::from_chars(field.data(), field.data() + field.size(), values[k]);
        if (problem != std::errc() || at != field.data() + field.size())
            refuse(file, where, "\"" + field + "\" is no number");
    }
    sample.eye.Origin = {values[0], values[1], values[2]};
    sample.eye.Orientation = _CMatrix3<float>(values[3], values[4], values[5], values[6], values[7], values[8],
                                              values[9], values[10], values[11]);
    sample.fov = values[12];
    return sample;
}

}  // namespace

std::string flightToCsv(const FlightRecording& flight) {
    std::string csv = headerLine();
    csv += '\n';
    csv.reserve(csv.size() + flight.ticks.size() * 160);
    for (const FlightTick& tick : flight.ticks) {
        csv += std::to_string(tick.time);
        csv += ',';
        csv += std::to_string(tick.waypoint);
        for (const float value : {tick.eye.Origin.x, tick.eye.Origin.y, tick.eye.Origin.z}) {
            csv += ',';
            csv += floatToDecimal(value);
        }
        for (const auto& row : tick.eye.Orientation.m)
            for (const float value : row) {
                csv += ',';
                csv += floatToDecimal(value);
            }
        csv += ',';
        csv += floatToDecimal(tick.fov);
        csv += '\n';
    }
    return csv;
}

std::vector<RecordedEye> flightFromCsv(const std::string& text, const std::string& file) {
    const std::string header = headerLine();
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || (line.erase(line.find_last_not_of("\r") + 1), line != header))
        refuse(file, "line 1", "a recording has camsys fly's header: " + header);
    std::vector<RecordedEye> samples;
    for (std::size_t number = 2; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        samples.push_back(sampleFromRow(line, file, "line " + std::to_string(number)));
    }
    checkRecording(samples, file);
    return samples;
}

std::vector<RecordedEye> loadFlightCsvFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(path, "", "", "cannot read the recording");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return flightFromCsv(text, path);
}

}  // namespace host
