#pragma once
/// The scene as JSON text (the format: scene/SceneFile.h).

#include <string>

#include "base/InputError.h"
#include "scene/SceneLevel.h"

namespace host {

class Host;

/// The scene as JSON: every object with its name, class, position, orientation (left out when
/// it is exactly the identity), the values of its own class's attributes of the types a scene
/// file carries, and its children. Floats are written as the shortest decimal that reads back to
/// the same float (negative zero as -0.0). Loading the text and writing it again gives the same
/// text. The level, when given, comes first, as the file name alone when it is neither scaled nor
/// moved. Throws InputError for an object without a name or with a reference outside the scene.
std::string sceneToJson(const Host& host, const OptionalLevel& level = std::nullopt);

}  // namespace host
