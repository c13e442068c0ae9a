#pragma once
/// A move's options as a person gives them, each named and given or not, checked against the
/// kind before anything is planned: `camsys add-move`'s command line and the studio's
/// `POST /api/moves` both fill this, so both take and refuse the same options in the same way.
/// Options are named as the command line spells them ("--per-turn"); the studio names them back
/// in its own words.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flight/MovePresets.h"

namespace host {

struct MoveArguments {
    std::optional<MovePlace> target{};
    std::optional<double> radius{}, height{}, turns{};
    std::optional<int> perTurn{};
    std::optional<bool> clockwise{};
    std::optional<Vec3> from{}, to{};
    std::optional<double> toHeight{};  ///< crane: the height reached, instead of `to`
    std::optional<std::vector<MovePlace>> through{};
    std::optional<std::string> path{};
    std::optional<Vec3> offset{};
    std::optional<double> speed{}, clearance{};
};

/// The options only some kinds take, as the command line spells them.
const std::vector<std::string_view>& moveKindOptionWords();

/// Whether `kind` takes `option` (a word of `moveKindOptionWords`; --speed and --clearance
/// belong to every kind).
bool moveKindTakes(MoveKind kind, std::string_view option);

/// The options of `given` for `kind`, the defaults filled in. Throws InputError (`source`, the
/// option, why) for an option the kind does not take, a height for `to` outside a crane, and a
/// follow without --path or --offset; what makes no move is planMove's to refuse.
MoveOptions moveOptionsFromArguments(MoveKind kind, const MoveArguments& given, const std::string& source);

/// "X,Y,Z" as a point; none when `text` is not three finite numbers.
std::optional<Vec3> pointFromText(std::string_view text);

/// A point when `text` is X,Y,Z, else an object's name.
MovePlace placeFromText(std::string_view text);

}  // namespace host
