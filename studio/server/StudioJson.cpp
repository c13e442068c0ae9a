#include "studio/server/StudioJson.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <vector>

#include "base/Decimal.h"
#include "base/GuidText.h"
#include "framework/Attribute.h"
#include "scene/AttributeValues.h"
#include "scene/SceneTree.h"

namespace studio {

namespace {

using host::doubleToDecimal;
using host::jsonFloat;
using host::jsonString;
using Json = nlohmann::ordered_json;

/// `json` as the studio writes it: compact, invalid UTF-8 replaced (as `jsonString` does).
std::string dumped(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

/// Appends `count` floats to a comma-separated list (a comma first unless `list` is empty).
void appendFloats(std::string& list, const float* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!list.empty()) list += ',';
        list += jsonFloat(values[i]);
    }
}

/// `count` floats as a JSON array.
std::string floats(const float* values, std::size_t count) {
    std::string list;
    appendFloats(list, values, count);
    return '[' + list + ']';
}

std::string point(const _Point3<float>& p) {
    const float values[3] = {p.x, p.y, p.z};
    return floats(values, 3);
}

std::string matrix(const _CMatrix3<float>& m) {
    float values[9];
    std::memcpy(values, &m, sizeof values);
    return floats(values, 9);
}

/// A measure: the shortest decimal of the double, null where it is not defined.
void appendMeasure(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    out += doubleToDecimal(value);
}

std::string attributeName(const Attribute& record) {
    return std::string(record.Name, strnlen(record.Name, sizeof record.Name));
}

/// The value of one attribute record of `object` in the scene format; "ObjectPos" as its two
/// parts; a reference outside the scene as the GUID it holds.
std::string attributeValue(const host::Host& host, const Handle& object, const Attribute& record) {
    const auto bytes = host.getAttribute(object, record);
    if (!bytes) return "null";
    if (record.Type == kTypeObjectPos && record.Count == 1 && bytes->size() == 48) {
        float values[12];
        std::memcpy(values, bytes->data(), sizeof values);
        return "{\"position\":" + floats(values, 3) + ",\"orientation\":" + floats(values + 3, 9) + "}";
    }
    if (std::optional<std::string> text = host::attributeJson(host, record, *bytes)) return std::move(*text);
    _GUID target{};
    std::memcpy(&target, bytes->data(), std::min(bytes->size(), sizeof target));
    return jsonString(host::guidToText(target));
}

std::string nameOrNull(const host::Host& host, const Handle& object) {
    const std::string& name = host.nameOf(object);
    return object.IsNull() || name.empty() ? "null" : jsonString(name);
}

void appendObject(std::string& out, const host::Host& host, const host::SceneNode& node, const Handle& parent) {
    const Handle& object = node.object;
    out += "{\"name\":" + jsonString(host.nameOf(object));
    out += ",\"class\":";
    out += host.runtime().kind(object) == host::ObjectKind::Module ? jsonString(host.className(object)) : "null";
    out += ",\"guid\":" + jsonString(host::guidToText(object.Guid));
    out += ",\"parent\":" + nameOrNull(host, parent);
    out += ",\"children\":[";
    for (std::size_t i = 0; i < node.children.size(); ++i)
        out += (i ? "," : "") + jsonString(host.nameOf(node.children[i].object));
    out += ']';
    if (const auto frame = host.getObjectPos(object))
        out += ",\"position\":" + point(frame->Origin) + ",\"orientation\":" + matrix(frame->Orientation);
    out += ",\"attributes\":[";
    bool first = true;
    for (const host::AttributeInfo& info : host.attributes(object)) {
        const Attribute& record = info.record;
        if (!first) out += ',';
        first = false;
        out += "{\"name\":" + jsonString(attributeName(record)) + ",\"type\":" + std::to_string(record.Type) +
               ",\"class\":" + jsonString(info.className) + ",\"flags\":[" + std::to_string(record.Flags[0]) + "," +
               std::to_string(record.Flags[1]) + "," + std::to_string(record.Flags[2]) +
               "],\"value\":" + attributeValue(host, object, record) + "}";
    }
    out += "]}";
}

void appendTree(std::string& out, const host::Host& host, const std::vector<host::SceneNode>& nodes,
                const Handle& parent, bool& first) {
    for (const host::SceneNode& node : nodes) {
        if (!first) out += ',';
        first = false;
        appendObject(out, host, node, parent);
        appendTree(out, host, node.children, node.object, first);
    }
}

/// A flight column: `value(tick)` of every tick, as a JSON array or base64 of its 4-byte values.
template <typename Value>
void appendColumn(std::string& out, const std::vector<host::FlightTick>& ticks, bool f32, Value value) {
    using T = decltype(value(ticks.front()));
    if (f32) {
        std::vector<std::uint8_t> bytes(ticks.size() * 4);
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            // Little-endian on every host: the page reads the bytes as a typed array.
            const std::uint32_t bits = std::bit_cast<std::uint32_t>(value(ticks[i]));
            for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<std::uint8_t>(bits >> (8 * b));
        }
        out += '"' + base64(bytes.data(), bytes.size()) + '"';
        return;
    }
    out += '[';
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        if (i) out += ',';
        if constexpr (std::is_same_v<T, float>)
            out += jsonFloat(value(ticks[i]));
        else
            out += std::to_string(value(ticks[i]));
    }
    out += ']';
}

/// The fifteen columns in CSV order: time, waypoint, the origin, the matrix, fov.
template <typename Visit>
void forEachColumn(Visit visit) {
    visit(0, [](const host::FlightTick& t) { return t.time; });
    visit(1, [](const host::FlightTick& t) { return t.waypoint; });
    visit(2, [](const host::FlightTick& t) { return t.eye.Origin.x; });
    visit(3, [](const host::FlightTick& t) { return t.eye.Origin.y; });
    visit(4, [](const host::FlightTick& t) { return t.eye.Origin.z; });
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            visit(5 + 3 * r + c, [r, c](const host::FlightTick& t) { return t.eye.Orientation.m[r][c]; });
    visit(14, [](const host::FlightTick& t) { return t.fov; });
}

}  // namespace

std::string base64(const void* data, std::size_t size) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* in = static_cast<const std::uint8_t*>(data);
    // Written through a pointer into a string sized once: a drag's answers carry the path's
    // whole drawing this way, and appending character by character cost several times more.
    std::string out((size + 2) / 3 * 4, '=');
    char* o = out.data();
    const std::size_t whole = size - size % 3;
    for (std::size_t i = 0; i < whole; i += 3, o += 4) {
        // Three bytes make four six-bit digits.
        const std::uint32_t n = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
        o[0] = kAlphabet[n >> 18];
        o[1] = kAlphabet[(n >> 12) & 63];
        o[2] = kAlphabet[(n >> 6) & 63];
        o[3] = kAlphabet[n & 63];
    }
    if (whole < size) {
        // A short last group: its missing digits stay '='.
        const std::uint32_t n =
            (std::uint32_t{in[whole]} << 16) | (whole + 1 < size ? std::uint32_t{in[whole + 1]} << 8 : 0);
        o[0] = kAlphabet[n >> 18];
        o[1] = kAlphabet[(n >> 12) & 63];
        if (whole + 1 < size) o[2] = kAlphabet[(n >> 6) & 63];
    }
    return out;
}

std::string sceneJson(const host::Host& host, std::string_view file, const std::vector<Handle>& iterators,
                      const Handle& current) {
    std::string out = "{\"file\":" + jsonString(file) + ",\"iterators\":[";
    for (std::size_t i = 0; i < iterators.size(); ++i) out += (i ? "," : "") + jsonString(host.nameOf(iterators[i]));
    out += "],\"iterator\":" + nameOrNull(host, current) + ",\"objects\":[";
    bool first = true;
    appendTree(out, host, host::sceneTree(host), Handle(), first);
    return out + "]}";
}

namespace {

/// Which of a group's lines an answer carries: those from `first` to `end` (by their order
/// among the group's lines), in place of `replaced` lines from `first` on of the group the page
/// holds. Whole: all of them, and the group replaces the one held.
struct LineStretch {
    std::size_t first = 0;
    std::size_t end = SIZE_MAX;
    std::size_t replaced = SIZE_MAX;
    bool whole() const { return first == 0 && replaced == SIZE_MAX; }
};

/// One object's group of a drawing (of its lines those of `stretch`, with "range": [first,
/// replaced] unless whole); with `f32`, the line columns as base64 of little-endian float32 (the
/// flags: int32) instead of decimals, which are most of the cost of a long path.
std::string groupJson(const host::Host& host, const host::SceneDrawing& drawing, const host::DrawGroup& group,
                      bool f32 = false, const LineStretch& stretch = {}) {
    std::string from, to, width, colour, flag, arrows;
    std::vector<float> fromBin, toBin, widthBin, colourBin;
    std::vector<std::int32_t> flagBin;
    std::size_t line = 0;
    for (std::size_t i = group.first; i < group.first + group.count && i < drawing.calls.size(); ++i) {
        const host::DrawCall& call = drawing.calls[i];
        if (call.kind == host::DrawKind::Line) {
            const std::size_t at = line++;
            if (at < stretch.first || at >= stretch.end) continue;
        }
        if (call.kind == host::DrawKind::Arrow) {
            arrows += std::string(arrows.empty() ? "" : ",") + "{\"from\":" + point(call.from) +
                      ",\"to\":" + point(call.to) + ",\"sizes\":" + floats(call.sizes.data(), 3) +
                      ",\"colour\":" + floats(call.colour.data(), 4) +
                      ",\"colour2\":" + floats(call.colour2.data(), 4) + ",\"flag\":" + std::to_string(call.flag) + "}";
            continue;
        }
        const float widths[2] = {call.widthFrom, call.widthTo};
        const float ends[2][3] = {{call.from.x, call.from.y, call.from.z}, {call.to.x, call.to.y, call.to.z}};
        if (f32) {
            fromBin.insert(fromBin.end(), ends[0], ends[0] + 3);
            toBin.insert(toBin.end(), ends[1], ends[1] + 3);
            widthBin.insert(widthBin.end(), widths, widths + 2);
            colourBin.insert(colourBin.end(), call.colour.begin(), call.colour.end());
            flagBin.push_back(call.flag);
            continue;
        }
        appendFloats(from, ends[0], 3);
        appendFloats(to, ends[1], 3);
        appendFloats(width, widths, 2);
        appendFloats(colour, call.colour.data(), 4);
        flag += (flag.empty() ? "" : ",") + std::to_string(call.flag);
    }
    if (f32) {
        // This machine is little-endian (the contract's platform is too); the static_assert in
        // flightJson checks it.
        const auto column = [](const auto& values) {
            return "\"" + base64(values.data(), values.size() * sizeof(values[0])) + "\"";
        };
        const std::string range = stretch.whole() ? std::string() :
            ",\"range\":[" + std::to_string(stretch.first) + "," + std::to_string(stretch.replaced) + "]";
        return "{\"object\":" + nameOrNull(host, group.object) + range + ",\"lines\":{\"from\":" + column(fromBin) +
               ",\"to\":" + column(toBin) + ",\"width\":" + column(widthBin) + ",\"colour\":" + column(colourBin) +
               ",\"flag\":" + column(flagBin) + "},\"arrows\":[" + arrows + "]}";
    }
    return "{\"object\":" + nameOrNull(host, group.object) + ",\"lines\":{\"from\":[" + from + "],\"to\":[" + to +
           "],\"width\":[" + width + "],\"colour\":[" + colour + "],\"flag\":[" + flag + "]},\"arrows\":[" + arrows +
           "]}";
}

// Calls are compared as bytes: every member is a 4-byte word, so there is no padding.
static_assert(sizeof(host::DrawCall) == 21 * 4);

bool sameCalls(const host::SceneDrawing& a, const host::DrawGroup& ga, const host::SceneDrawing& b,
               const host::DrawGroup& gb) {
    return ga.count == gb.count && ga.first + ga.count <= a.calls.size() && gb.first + gb.count <= b.calls.size() &&
           (ga.count == 0 ||
            std::memcmp(&a.calls[ga.first], &b.calls[gb.first], ga.count * sizeof(host::DrawCall)) == 0);
}

/// The line calls of a group, in order.
std::vector<const host::DrawCall*> lineCalls(const host::SceneDrawing& drawing, const host::DrawGroup& group) {
    std::vector<const host::DrawCall*> lines;
    lines.reserve(group.count);
    for (std::size_t i = group.first; i < group.first + group.count && i < drawing.calls.size(); ++i)
        if (drawing.calls[i].kind == host::DrawKind::Line) lines.push_back(&drawing.calls[i]);
    return lines;
}

/// The stretch of `group`'s lines that differs from those of the same object's group `before`:
/// what lies before it and after it is the same, bit for bit. Moving a waypoint of a long path
/// changes the path's lines near it; a natural spline's change dies away along the path, and far
/// lines keep their bits. Whole when nothing is alike at either end.
LineStretch changedLines(const host::SceneDrawing& drawing, const host::DrawGroup& group,
                         const host::SceneDrawing& since, const host::DrawGroup& before) {
    const std::vector<const host::DrawCall*> now = lineCalls(drawing, group), was = lineCalls(since, before);
    const auto same = [](const host::DrawCall* a, const host::DrawCall* b) {
        return std::memcmp(a, b, sizeof(host::DrawCall)) == 0;
    };
    std::size_t first = 0;
    while (first < now.size() && first < was.size() && same(now[first], was[first])) ++first;
    std::size_t last = 0;  // alike at the end
    while (last < now.size() - first && last < was.size() - first &&
           same(now[now.size() - 1 - last], was[was.size() - 1 - last]))
        ++last;
    if (first == 0 && last == 0) return {};
    return {first, now.size() - last, was.size() - first - last};
}

bool sameLabel(const host::PictureLabel& a, const host::PictureLabel& b) {
    return a.text == b.text && std::memcmp(&a.position, &b.position, sizeof a.position) == 0;
}

std::string labelJson(const host::PictureLabel& label) {
    return "{\"name\":" + jsonString(label.text) + ",\"position\":" + point(label.position) + "}";
}

}  // namespace

std::string drawJson(const host::Host& host, const host::SceneDrawing& drawing) {
    return drawJson(host, drawing, nullptr);
}

std::string drawJson(const host::Host& host, const host::SceneDrawing& drawing, const host::SceneDrawing* since) {
    // The earlier group of the same object: the groups of two drawings of one scene usually come
    // in the same order, so the same index is tried first and a lookup by GUID only built when
    // the order differs.
    using Key = std::pair<std::uint64_t, std::uint64_t>;
    const auto key = [](const Handle& h) {
        std::uint64_t halves[2];
        static_assert(sizeof halves == sizeof h.Guid);
        std::memcpy(halves, &h.Guid, sizeof halves);
        return Key{halves[0], halves[1]};
    };
    std::vector<bool> matched(since ? since->groups.size() : 0, false);
    std::optional<std::map<Key, std::size_t>> byObject;
    const auto earlier = [&](std::size_t index, const Handle& object) -> const host::DrawGroup* {
        if (index < since->groups.size() && since->groups[index].object == object && !matched[index]) {
            matched[index] = true;
            return &since->groups[index];
        }
        if (!byObject) {
            byObject.emplace();
            for (std::size_t i = 0; i < since->groups.size(); ++i) byObject->emplace(key(since->groups[i].object), i);
        }
        const auto found = byObject->find(key(object));
        if (found == byObject->end() || matched[found->second]) return nullptr;
        matched[found->second] = true;
        return &since->groups[found->second];
    };

    std::string out = "{\"groups\":[";
    bool first = true;
    for (std::size_t g = 0; g < drawing.groups.size(); ++g) {
        const host::DrawGroup& group = drawing.groups[g];
        LineStretch stretch;
        if (since) {
            const host::DrawGroup* before = earlier(g, group.object);
            if (before && sameCalls(drawing, group, *since, *before)) continue;
            // A group the page holds gets only its lines that changed; a new one comes whole.
            if (before) stretch = changedLines(drawing, group, *since, *before);
        }
        out += std::string(first ? "" : ",") + groupJson(host, drawing, group, since != nullptr, stretch);
        first = false;
    }
    out += "]";
    if (since) {
        out += ",\"encoding\":\"f32\",\"removed\":[";
        first = true;
        for (std::size_t i = 0; i < matched.size(); ++i) {
            if (matched[i]) continue;
            out += std::string(first ? "" : ",") + nameOrNull(host, since->groups[i].object);
            first = false;
        }
        out += "]";
    }
    // Labels: whole, unless the same names stand in the same order; then only those that moved.
    const bool sameNames = since && since->labels.size() == drawing.labels.size() &&
                           std::equal(drawing.labels.begin(), drawing.labels.end(), since->labels.begin(),
                                      [](const auto& a, const auto& b) { return a.text == b.text; });
    if (sameNames) {
        std::string moved;
        for (std::size_t i = 0; i < drawing.labels.size(); ++i)
            if (!sameLabel(drawing.labels[i], since->labels[i]))
                moved += std::string(moved.empty() ? "" : ",") + labelJson(drawing.labels[i]);
        if (!moved.empty()) out += ",\"labelsMoved\":[" + moved + "]";
    } else {
        out += ",\"labels\":[";
        for (std::size_t i = 0; i < drawing.labels.size(); ++i)
            out += std::string(i ? "," : "") + labelJson(drawing.labels[i]);
        out += "]";
    }
    return out + ",\"dropped\":" + std::to_string(drawing.dropped) + "}";
}

JsonObject flightObject(const host::FlightRecording& flight, std::string_view iterator, bool f32) {
    Json columns = Json::array();
    for (const char* column : host::kFlightColumns) columns.push_back(column);
    std::string data = "{";
    data.reserve(flight.ticks.size() * (f32 ? 90 : 160));
    forEachColumn([&](int column, auto value) {
        if (column) data += ',';
        data += jsonString(host::kFlightColumns[column]) + ':';
        appendColumn(data, flight.ticks, f32, value);
    });
    data += '}';
    Json events = Json::array();
    for (const host::FlightEvent& e : flight.events)
        events.push_back({{"time", e.time}, {"kind", host::eventWord(e.kind)}, {"detail", e.detail}});
    JsonObject out;
    out.text("iterator", iterator).value("columns", dumped(columns)).number("rows", flight.ticks.size());
    out.text("encoding", f32 ? "f32" : "json").value("data", std::move(data)).value("events", dumped(events));
    return std::move(out.flag("hitLimit", flight.hitLimit));
}

std::string flightJson(const host::FlightRecording& flight, std::string_view iterator, bool f32) {
    return flightObject(flight, iterator, f32).json();
}

std::string frameJson(const host::FlightTick& tick) {
    std::string out = "{";
    forEachColumn([&](int column, auto value) {
        if (column) out += ',';
        out += '"' + std::string(host::kFlightColumns[column]) + "\":";
        if constexpr (std::is_same_v<decltype(value(tick)), float>)
            out += jsonFloat(value(tick));
        else
            out += std::to_string(value(tick));
    });
    return out + "}";
}

std::string analysisJson(const host::FlightAnalysisInput& input, const host::FlightAnalysis& analysis) {
    struct Column {
        const char* name;
        const char* unit;
        double host::TickMeasures::*member;
    };
    static constexpr Column kColumns[] = {
        {"speed", "units/s", &host::TickMeasures::speed},
        {"acceleration", "units/s²", &host::TickMeasures::acceleration},
        {"jerk", "units/s³", &host::TickMeasures::jerk},
        {"angularRate", "°/s", &host::TickMeasures::angularRate},
        {"rollRate", "°/s", &host::TickMeasures::rollRate},
        {"fov", "", &host::TickMeasures::fov},
        {"targetDistance", "units", &host::TickMeasures::targetDistance},
    };
    // With a level: the clearance, and whether the target is in sight (1, 0, or null without one).
    static constexpr Column kLevelColumns[] = {{"clearance", "units", &host::TickMeasures::clearance}};
    const std::span<const Column> levelColumns = analysis.level ? std::span<const Column>(kLevelColumns) : std::span<const Column>();
    std::string out = "{\"columns\":[\"time\"";
    for (const Column& c : kColumns) out += std::string(",\"") + c.name + '"';
    for (const Column& c : levelColumns) out += std::string(",\"") + c.name + '"';
    if (analysis.level) out += ",\"targetVisible\"";
    out += "],\"rows\":" + std::to_string(analysis.ticks.size()) + ",\"units\":{\"time\":\"ms\"";
    for (const Column& c : kColumns) out += std::string(",\"") + c.name + "\":\"" + c.unit + '"';
    for (const Column& c : levelColumns) out += std::string(",\"") + c.name + "\":\"" + c.unit + '"';
    if (analysis.level) out += ",\"targetVisible\":\"\"";
    out += "},\"data\":{\"time\":[";
    for (std::size_t i = 0; i < input.ticks.size(); ++i) out += (i ? "," : "") + std::to_string(input.ticks[i].time);
    out += ']';
    for (const std::span<const Column> columns : {std::span<const Column>(kColumns), levelColumns}) {
        for (const Column& c : columns) {
            out += std::string(",\"") + c.name + "\":[";
            for (std::size_t i = 0; i < analysis.ticks.size(); ++i) {
                if (i) out += ',';
                appendMeasure(out, analysis.ticks[i].*c.member);
            }
            out += ']';
        }
    }
    if (analysis.level) {
        out += ",\"targetVisible\":[";
        for (std::size_t i = 0; i < analysis.ticks.size(); ++i) {
            const std::optional<bool>& visible = analysis.ticks[i].targetVisible;
            out += std::string(i ? "," : "") + (!visible ? "null" : *visible ? "1" : "0");
        }
        out += ']';
    }
    out += "},\"marks\":[";
    for (std::size_t i = 0; i < analysis.marks.size(); ++i) {
        const host::FlightMark& m = analysis.marks[i];
        const std::string name =
            m.waypoint < input.waypoints.size() ? jsonString(input.waypoints[m.waypoint].name) : std::string("null");
        out += std::string(i ? "," : "") + "{\"kind\":\"" + host::markWord(m.kind) +
               "\",\"time\":" + std::to_string(m.time) + ",\"end\":" + std::to_string(m.end) +
               ",\"waypoint\":" + std::to_string(m.waypoint) + ",\"name\":" + name + "}";
    }
    return out + "]}";
}

std::string stringListJson(const std::vector<std::string>& texts) { return dumped(Json(texts)); }

std::string messageList(const std::vector<host::MessageRecord>& messages) {
    Json list = Json::array();
    for (const host::MessageRecord& m : messages)
        list.push_back({{"time", m.time}, {"level", m.level}, {"location", m.location}, {"text", m.text}});
    return dumped(list);
}

std::string messagesJson(const std::vector<host::MessageRecord>& messages) {
    return JsonObject().value("messages", messageList(messages)).json();
}

JsonObject errorObject(std::string_view reason, std::string_view object, std::string_view attribute) {
    JsonObject out;
    out.text("error", reason);
    if (!object.empty()) out.text("object", object);
    if (!attribute.empty()) out.text("attribute", attribute);
    return out;
}

std::string errorJson(std::string_view reason, std::string_view object, std::string_view attribute) {
    return errorObject(reason, object, attribute).json();
}

JsonObject& JsonObject::value(std::string_view key, std::string json) {
    members_.emplace_back(jsonString(key), std::move(json));
    return *this;
}

JsonObject& JsonObject::text(std::string_view key, std::string_view text) { return value(key, jsonString(text)); }

JsonObject& JsonObject::number(std::string_view key, std::uint64_t number) {
    return value(key, std::to_string(number));
}

JsonObject& JsonObject::flag(std::string_view key, bool flag) { return value(key, flag ? "true" : "false"); }

JsonObject& JsonObject::members(const JsonObject& other) {
    members_.insert(members_.end(), other.members_.begin(), other.members_.end());
    return *this;
}

std::string JsonObject::json() const {
    std::size_t size = 2;
    for (const auto& [key, value] : members_) size += key.size() + value.size() + 2;
    std::string out;
    out.reserve(size);
    out += '{';
    for (const auto& [key, value] : members_) {
        if (out.size() > 1) out += ',';
        out += key;
        out += ':';
        out += value;
    }
    out += '}';
    return out;
}

}  // namespace studio
