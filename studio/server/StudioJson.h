#pragma once
/// The bodies of the studio's answers: the scene, the editor's drawing, a flight, one frame and
/// the analysis of a flight, as JSON text. Floats are written as the shortest decimal that reads
/// back to the same float, as in scene files; numbers JSON has no words for are the strings
/// "NaN", "Infinity" and "-Infinity" (measures of the analysis that are not defined: null).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "flight/Flight.h"
#include "flight/FlightAnalysis.h"
#include "host/Host.h"

namespace studio {

/// An object of an answer put together member by member, in order. Every value is a whole JSON
/// text (a writer's output below, or a string, number or flag written here), so an answer grows
/// by members and nothing is ever cut out of text already written.
class JsonObject {
public:
    JsonObject& value(std::string_view key, std::string json);
    JsonObject& text(std::string_view key, std::string_view text);
    JsonObject& number(std::string_view key, std::uint64_t number);
    JsonObject& flag(std::string_view key, bool flag);
    /// Appends the members of `other`.
    JsonObject& members(const JsonObject& other);
    bool empty() const { return members_.empty(); }
    std::string json() const;

private:
    std::vector<std::pair<std::string, std::string>> members_;  ///< key (as JSON) and value
};

/// Every scene object in pre-order with its class, GUID, parent, children, "ObjectPos" and the
/// records of its attribute table in table order with their values; and the iterators.
std::string sceneJson(const host::Host& host, std::string_view file, const std::vector<Handle>& iterators,
                      const Handle& current);

/// The recorded drawing calls, by the object that made them; lines as flat columns.
std::string drawJson(const host::Host& host, const host::SceneDrawing& drawing);
/// The same as changes since the drawing `since`: only the groups whose calls differ (or are
/// new; of a group `since` has, only the stretch of its lines that differs, with "range":
/// [first, replaced]: they replace that many of its lines from `first` on, and its arrows come
/// whole), "removed" with the objects whose group is gone, and of the labels either all of them
/// ("labels", when names came or went) or those that moved ("labelsMoved", absent when none).
/// A page that holds `since` and applies this holds `drawing`. The groups' line columns come
/// as base64 of little-endian float32 (flags int32), marked "encoding": "f32".
std::string drawJson(const host::Host& host, const host::SceneDrawing& drawing, const host::SceneDrawing* since);

/// A flight as columns named like the CSV's. With `f32` each column is base64 of little-endian
/// uint32 ("time", "waypoint") or float32 values (the others).
std::string flightJson(const host::FlightRecording& flight, std::string_view iterator, bool f32);
/// `flightJson` as an object that more members can join.
JsonObject flightObject(const host::FlightRecording& flight, std::string_view iterator, bool f32);

/// One tick as an object with the CSV's column names.
std::string frameJson(const host::FlightTick& tick);

/// Per-tick measures as columns, with their units, and the marks with the waypoints' names.
std::string analysisJson(const host::FlightAnalysisInput& input, const host::FlightAnalysis& analysis);

/// Messages the runtime received (`from` on), with their location and time.
std::string messagesJson(const std::vector<host::MessageRecord>& messages);
/// The same messages as a JSON array.
std::string messageList(const std::vector<host::MessageRecord>& messages);
/// Texts as a JSON array of strings (invalid UTF-8 replaced).
std::string stringListJson(const std::vector<std::string>& texts);

/// {"error": reason}, plus "object" and "attribute" when they are not empty.
std::string errorJson(std::string_view reason, std::string_view object = {}, std::string_view attribute = {});
/// `errorJson` as an object that more members can join.
JsonObject errorObject(std::string_view reason, std::string_view object = {}, std::string_view attribute = {});

/// Standard base64 (with padding) of `size` bytes.
std::string base64(const void* data, std::size_t size);

}  // namespace studio
