#pragma once
/// The ways an API request fails short of a fault, each answered with its own status.

#include <stdexcept>
#include <string>

#include "studio/server/StudioJson.h"

namespace studio {

/// A request the studio cannot serve as asked: answered with 400 and the reason.
struct BadRequest : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// A change that would overwrite what someone else did (a stale revision, a file changed on
/// disk): answered with 409, the reason and `fields`.
struct Conflict : std::runtime_error {
    Conflict(const std::string& reason, JsonObject more) : std::runtime_error(reason), fields(std::move(more)) {}
    JsonObject fields;
};

/// Nothing is at the path: 404.
struct NotFound : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace studio
