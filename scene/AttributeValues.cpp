#include "scene/AttributeValues.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/Decimal.h"
#include "host/Host.h"
#include "scene/JsonDom.h"
#include "scene/SceneTree.h"

namespace host {

bool isSceneType(const Attribute& record) {
    if (record.Count != 1) return false;
    switch (record.Type) {
        case kTypeFloat:
        case kTypePoint:
        case kTypeBool:
        case kTypeULong:
        case kTypeGuidRef:
            return true;
        default:
            return false;
    }
}

std::string attributeName(const Attribute& record) {
    return std::string(record.Name, strnlen(record.Name, sizeof record.Name));
}

std::string jsonString(std::string_view text) {
    return Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string jsonFloat(float value) {
    if (std::isnan(value)) return "\"NaN\"";
    if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    // "-0" would read back as the integer 0.
    if (value == 0 && std::signbit(value)) return "-0.0";
    return floatToDecimal(value);
}

std::optional<std::string> attributeJson(const Host& host, const Attribute& record,
                                         std::span<const std::uint8_t> value) {
    if (!isSceneType(record)) return "null";
    std::uint8_t data[16] = {};
    std::memcpy(data, value.data(), std::min(value.size(), sizeof data));
    switch (record.Type) {
        case kTypeFloat: {
            float f;
            std::memcpy(&f, data, sizeof f);
            return jsonFloat(f);
        }
        case kTypePoint: {
            float p[3];
            std::memcpy(p, data, sizeof p);
            return "[" + jsonFloat(p[0]) + ", " + jsonFloat(p[1]) + ", " + jsonFloat(p[2]) + "]";
        }
        case kTypeBool:
            return data[0] ? "true" : "false";
        case kTypeULong: {
            ULong u;
            std::memcpy(&u, data, sizeof u);
            return std::to_string(u);
        }
        default: {
            _GUID target;
            std::memcpy(&target, data, sizeof target);
            if (CGUID(target).IsNull()) return "null";
            const Handle object(target);
            if (!isSceneObject(host, object) || host.nameOf(object).empty()) return std::nullopt;
            return jsonString(host.nameOf(object));
        }
    }
}

}  // namespace host
