#include "flight/MoveArguments.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/InputError.h"

namespace host {

namespace {

struct KindOptions {
    MoveKind kind;
    std::vector<std::string_view> options;
};

const std::vector<KindOptions>& kindOptions() {
    static const std::vector<KindOptions> table = {
        {MoveKind::Orbit, {"--target", "--radius", "--height", "--turns", "--per-turn", "--direction"}},
        {MoveKind::Dolly, {"--from", "--to", "--target"}},
        {MoveKind::Crane, {"--from", "--to", "--target"}},
        {MoveKind::FlyThrough, {"--through"}},
        {MoveKind::Follow, {"--path", "--offset"}},
    };
    return table;
}

}  // namespace

const std::vector<std::string_view>& moveKindOptionWords() {
    static const std::vector<std::string_view> words = {"--target",   "--radius",    "--height", "--turns",
                                                        "--per-turn", "--direction", "--from",   "--to",
                                                        "--through",  "--path",      "--offset"};
    return words;
}

bool moveKindTakes(MoveKind kind, std::string_view option) {
    if (option == "--speed" || option == "--clearance") return true;
    for (const KindOptions& row : kindOptions())
        if (row.kind == kind) return std::find(row.options.begin(), row.options.end(), option) != row.options.end();
    return false;
}

MoveOptions moveOptionsFromArguments(MoveKind kind, const MoveArguments& a, const std::string& source) {
    const std::pair<std::string_view, bool> given[] = {
        {"--target", a.target.has_value()},    {"--radius", a.radius.has_value()},
        {"--height", a.height.has_value()},    {"--turns", a.turns.has_value()},
        {"--per-turn", a.perTurn.has_value()}, {"--direction", a.clockwise.has_value()},
        {"--from", a.from.has_value()},        {"--to", a.to.has_value() || a.toHeight.has_value()},
        {"--through", a.through.has_value()},  {"--path", a.path.has_value()},
        {"--offset", a.offset.has_value()},
    };
    for (const auto& [option, is] : given)
        if (is && !moveKindTakes(kind, option))
            throw InputError(source, "", std::string(option), std::string("does not belong to ") + moveKindWord(kind));
    if (a.toHeight && kind != MoveKind::Crane) throw InputError(source, "", "--to", "must be a point X,Y,Z");
    if (kind == MoveKind::Follow && !a.path)
        throw InputError(source, "", "--path", "a follow needs the path it follows");
    if (kind == MoveKind::Follow && !a.offset) throw InputError(source, "", "--offset", "a follow needs an offset");

    MoveOptions o;
    o.kind = kind;
    o.target = a.target;
    o.radius = a.radius.value_or(o.radius);
    o.height = a.height.value_or(o.height);
    o.turns = a.turns.value_or(o.turns);
    o.perTurn = a.perTurn.value_or(o.perTurn);
    o.clockwise = a.clockwise.value_or(o.clockwise);
    o.from = a.from;
    o.to = a.to;
    o.toHeight = a.toHeight;
    o.through = a.through.value_or(std::vector<MovePlace>{});
    o.path = a.path.value_or("");
    o.offset = a.offset.value_or(o.offset);
    // A follow keeps the path's own times unless a speed is given.
    if (a.speed || kind != MoveKind::Follow) o.speed = a.speed.value_or(kDefaultMoveSpeed);
    o.clearance = a.clearance.value_or(o.clearance);
    return o;
}

std::optional<Vec3> pointFromText(std::string_view text) {
    Vec3 point;
    const char* at = text.data();
    const char* end = text.data() + text.size();
    for (std::size_t k = 0; k < 3; ++k) {
        if (k > 0) {
            if (at == end || *at != ',') return std::nullopt;
            ++at;
        }
        const auto [next, error] = std::from_chars(at, end, point[k]);
        if (error != std::errc() || !std::isfinite(point[k])) return std::nullopt;
        at = next;
    }
    if (at != end) return std::nullopt;
    return point;
}

MovePlace placeFromText(std::string_view text) {
    if (const std::optional<Vec3> point = pointFromText(text)) return {"", *point};
    return {std::string(text), {0, 0, 0}};
}

}  // namespace host
