#pragma once
// Private to scene/: the words the scene's mistakes share.

#include <string>
#include <string_view>
#include <vector>

namespace host {

/// "a, b, c", or "none".
inline std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "none" : text;
}

/// Every number beyond the float's range, whether or not a double holds it (1e39, 1e400, a
/// number of a thousand digits), is refused in these words.
inline constexpr const char* kOutOfFloatRange = "the value is out of the range of a float";

inline std::string quoteName(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace host
