#include "studio/server/MoveRequest.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>

#include "base/InputError.h"

namespace studio {

namespace {

using Json = nlohmann::json;

[[noreturn]] void refuse(std::string_view key, const std::string& reason) {
    throw host::InputError("", "", std::string(key), reason);
}

double numberOf(const Json& value, std::string_view key) {
    if (!value.is_number() || !std::isfinite(value.get<double>())) refuse(key, "must be a number");
    return value.get<double>();
}

/// [X, Y, Z] or "X,Y,Z".
host::Vec3 pointOf(const Json& value, std::string_view key) {
    if (value.is_string())
        if (const auto point = host::pointFromText(value.get<std::string>())) return *point;
    if (value.is_array() && value.size() == 3) {
        host::Vec3 point;
        for (std::size_t k = 0; k < 3; ++k) point[k] = numberOf(value[k], key);
        return point;
    }
    refuse(key, "must be a point [X, Y, Z]");
}

/// An object's name or a point.
host::MovePlace placeOf(const Json& value, std::string_view key) {
    if (value.is_string() && !value.get<std::string>().empty()) return host::placeFromText(value.get<std::string>());
    return {"", pointOf(value, key)};
}

void readPerTurn(host::MoveArguments& a, const Json& v, std::string_view key) {
    if (!v.is_number_integer() || std::abs(v.get<double>()) > 1e9) refuse(key, "must be a whole number");
    a.perTurn = v.get<int>();
}

void readDirection(host::MoveArguments& a, const Json& v, std::string_view key) {
    if (v != "cw" && v != "ccw") refuse(key, "must be \"cw\" or \"ccw\"");
    a.clockwise = v == "cw";
}

/// A point, or for a crane only the height it rises to.
void readTo(host::MoveArguments& a, const Json& v, std::string_view key) {
    if (v.is_number())
        a.toHeight = numberOf(v, key);
    else
        a.to = pointOf(v, key);
}

void readThrough(host::MoveArguments& a, const Json& v, std::string_view key) {
    if (!v.is_array()) refuse(key, "must be a list of objects' names and points");
    a.through.emplace();
    for (const Json& place : v) a.through->push_back(placeOf(place, key));
}

void readPath(host::MoveArguments& a, const Json& v, std::string_view key) {
    if (!v.is_string()) refuse(key, "must be a path's name");
    a.path = v.get<std::string>();
}

/// The body's keys, the command line's words for the same options, and how each is read.
struct Key {
    std::string_view key, word;
    void (*read)(host::MoveArguments&, const Json&, std::string_view);
};
using A = host::MoveArguments;
const Key kKeys[] = {
    {"target", "--target", [](A& a, const Json& v, std::string_view k) { a.target = placeOf(v, k); }},
    {"radius", "--radius", [](A& a, const Json& v, std::string_view k) { a.radius = numberOf(v, k); }},
    {"height", "--height", [](A& a, const Json& v, std::string_view k) { a.height = numberOf(v, k); }},
    {"turns", "--turns", [](A& a, const Json& v, std::string_view k) { a.turns = numberOf(v, k); }},
    {"perTurn", "--per-turn", readPerTurn},
    {"direction", "--direction", readDirection},
    {"from", "--from", [](A& a, const Json& v, std::string_view k) { a.from = pointOf(v, k); }},
    {"to", "--to", readTo},
    {"through", "--through", readThrough},
    {"path", "--path", readPath},
    {"offset", "--offset", [](A& a, const Json& v, std::string_view k) { a.offset = pointOf(v, k); }},
    {"speed", "--speed", [](A& a, const Json& v, std::string_view k) { a.speed = numberOf(v, k); }},
    {"clearance", "--clearance", [](A& a, const Json& v, std::string_view k) { a.clearance = numberOf(v, k); }},
};

}  // namespace

MoveRequest moveRequestFromJson(const std::string& body) {
    const Json json = Json::parse(body.empty() ? "{}" : body);
    MoveRequest request;
    const auto kind = json.find("kind");
    if (kind == json.end() || !kind->is_string())
        refuse("kind", "is missing (orbit, dolly, crane, fly-through, follow)");
    const auto known = host::moveKindFromWord(kind->get<std::string>());
    if (!known)
        refuse("kind",
               "\"" + kind->get<std::string>() + "\" is no kind of move (orbit, dolly, crane, fly-through, follow)");
    request.kind = *known;
    // A null is a field left empty: the option is not given.
    for (const auto& [key, value] : json.items())
        for (const Key& k : kKeys)
            if (k.key == key && !value.is_null()) k.read(request.arguments, value, k.key);
    return request;
}

std::string moveRequestKey(std::string_view option) {
    for (const Key& k : kKeys)
        if (k.word == option) return std::string(k.key);
    return std::string(option);
}

}  // namespace studio
