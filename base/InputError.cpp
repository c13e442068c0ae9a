#include "base/InputError.h"

#include <utility>

namespace host {

namespace {

std::string joinError(const std::string& file, const std::string& object, const std::string& attribute,
                      const std::string& reason) {
    std::string text;
    for (const std::string* part : {&file, &object, &attribute})
        if (!part->empty()) text += *part + ": ";
    return text + reason;
}

}  // namespace

InputError::InputError(std::string file, std::string object, std::string attribute, std::string reason)
    : std::runtime_error(joinError(file, object, attribute, reason)),
      file_(std::move(file)),
      object_(std::move(object)),
      attribute_(std::move(attribute)),
      reason_(std::move(reason)) {}

}  // namespace host
