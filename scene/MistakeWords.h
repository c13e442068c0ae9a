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

inline std::string quoteName(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace host
