#pragma once
/// A request's query parameters, checked against what the endpoint takes: an unknown or repeated
/// parameter is a mistake worth reporting rather than ignoring.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

#include "studio/server/Api.h"
#include "studio/server/ApiErrors.h"

namespace studio {

class Query {
public:
    /// The parameters of `request` (but the token); BadRequest for one not in `known` or repeated.
    Query(const Request& request, std::initializer_list<std::string_view> known) {
        for (const auto& [key, value] : request.query) {
            if (key == "token") continue;
            if (std::find(known.begin(), known.end(), key) == known.end())
                throw BadRequest("unknown query parameter \"" + key + "\"");
            if (!values_.emplace(key, value).second) throw BadRequest("query parameter \"" + key + "\" given twice");
        }
    }

    const std::string* text(const std::string& key) const {
        const auto found = values_.find(key);
        return found == values_.end() ? nullptr : &found->second;
    }

    /// A whole number from `low` to `high`, or `otherwise` when absent.
    std::uint64_t number(const std::string& key, std::uint64_t otherwise, std::uint64_t low, std::uint64_t high) const {
        const std::string* value = text(key);
        if (!value) return otherwise;
        std::uint64_t n = 0;
        const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), n);
        if (value->empty() || ec != std::errc() || end != value->data() + value->size() || n < low || n > high)
            throw BadRequest("query parameter \"" + key + "\" must be a whole number from " + std::to_string(low) +
                             " to " + std::to_string(high) + ", not \"" + *value + "\"");
        return n;
    }

    ULong time(const std::string& key, ULong otherwise) const {
        return static_cast<ULong>(number(key, otherwise, 0, 0xFFFFFFFFu));
    }

private:
    std::map<std::string, std::string> values_;
};

}  // namespace studio
