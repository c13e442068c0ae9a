#pragma once
/// The body of `POST /api/moves`: a move's kind and its options under JSON keys close to
/// `camsys add-move`'s (`perTurn` for --per-turn), read into the arguments the tool checks too.

#include <string>
#include <string_view>

#include "flight/MoveArguments.h"

namespace studio {

struct MoveRequest {
    host::MoveKind kind = host::MoveKind::Orbit;
    host::MoveArguments arguments;
};

/// Reads `body` (JSON, its keys already checked). Throws InputError
/// naming the key (as its attribute) for a value of the wrong kind or an unknown kind of move.
MoveRequest moveRequestFromJson(const std::string& body);

/// The body's key for an option as the command line spells it ("--per-turn": "perTurn"); the
/// word itself when no key names it.
std::string moveRequestKey(std::string_view option);

}  // namespace studio
