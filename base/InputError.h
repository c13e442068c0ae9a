#pragma once
/// Bad input: a mistake in what a person or another program handed the tool (a scene file, a
/// recording, a request), as opposed to a failure of the tool or the system.

#include <stdexcept>
#include <string>

namespace host {

/// A mistake in some input, with the input's name (a file, "-", a request), the object and the
/// attribute (or key, line, sample) it concerns; the latter two may be empty. `what()` is
/// "file: object: attribute: reason" without the empty parts.
class InputError : public std::runtime_error {
public:
    InputError(std::string file, std::string object, std::string attribute, std::string reason);

    const std::string& file() const { return file_; }
    const std::string& object() const { return object_; }
    const std::string& attribute() const { return attribute_; }
    const std::string& reason() const { return reason_; }

private:
    std::string file_, object_, attribute_, reason_;
};

}  // namespace host
