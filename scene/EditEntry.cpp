#include "scene/EditEntry.h"

#include "scene/JsonDom.h"

namespace host {

std::string editEntryJson(const EditEntry& entry) {
    Json json = Json::object();
    // A float widened to double prints as the shortest text of that double, which reads back as
    // the same float.
    if (entry.position)
        json["position"] = {double(entry.position->x), double(entry.position->y), double(entry.position->z)};
    if (entry.orientation) {
        Json rows = Json::array();
        for (const auto& row : entry.orientation->m)
            for (float value : row) rows.push_back(double(value));
        json["orientation"] = rows;
    }
    if (!entry.attributes.empty()) {
        Json attributes = Json::object();
        for (const auto& [name, value] : entry.attributes)
            std::visit(
                [&](const auto& v) {
                    using V = std::decay_t<decltype(v)>;
                    if constexpr (std::is_same_v<V, float>)
                        attributes[name] = double(v);
                    else
                        attributes[name] = v;
                },
                value);
        json["attributes"] = attributes;
    }
    return json.dump();
}

}  // namespace host
