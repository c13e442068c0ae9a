#include "scene/ObjectEdit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/InputError.h"
#include "host/Host.h"
#include "scene/AttributeValues.h"
#include "scene/MistakeWords.h"
#include "scene/ObjectEditJson.h"
#include "scene/SceneTree.h"

namespace host {

namespace {

/// Reads one entry's values for one object, failing in the loader's words.
class EntryReader {
public:
    EntryReader(const Host& host, const Handle& object, const std::string& name, const std::string& file,
                const ReferenceScope& scope)
        : host_(host), object_(object), name_(name), file_(file), scope_(scope) {}

    ObjectEdit read(const Json& entry) const {
        ObjectEdit edit;
        const auto position = entry.find("position");
        if (position != entry.end()) {
            const auto p = toFloats(*position, 3, "position", "the position must be [x, y, z]");
            requireFinite(p, "position");
            edit.position = _Point3<float>{p[0], p[1], p[2]};
        }
        const auto orientation = entry.find("orientation");
        if (orientation != entry.end()) {
            const auto m = toFloats(*orientation, 9, "orientation", "the orientation must be nine numbers, row by row");
            requireFinite(m, "orientation");
            _CMatrix3<float> rows;
            std::memcpy(&rows, m.data(), sizeof(float) * 9);
            edit.orientation = rows;
        }
        const auto attributes = entry.find("attributes");
        if (attributes != entry.end()) edit.attributes = readAttributes(*attributes);
        return edit;
    }

private:
    [[noreturn]] void fail(const std::string& attribute, const std::string& reason) const {
        throw InputError(file_, name_, attribute, reason);
    }

    std::vector<ObjectEdit::Value> readAttributes(const Json& attributes) const {
        if (!attributes.is_object()) fail("attributes", "attributes must be a JSON object");
        std::vector<ObjectEdit::Value> values;
        const std::vector<AttributeInfo> records = host_.attributes(object_);
        for (const auto& [key, value] : attributes.items()) {
            if (!key.empty() && key[0] == kDuplicateMark)
                fail(key.substr(key.find_first_not_of(kDuplicateMark)), "the attribute is given twice");
            // A named reference for the lambda: clang 14 cannot capture a structured binding.
            const auto& attribute = key;
            const auto found = std::find_if(records.begin(), records.end(), [&](const AttributeInfo& a) {
                return attributeName(a.record) == attribute;
            });
            if (found == records.end() || !isSceneType(found->record)) {
                std::vector<std::string> settable;
                for (const AttributeInfo& a : records)
                    if (isSceneType(a.record)) settable.push_back(attributeName(a.record));
                if (found != records.end() && found->record.Type == kTypeObjectPos)
                    fail(key, "\"ObjectPos\" is given by \"position\" and \"orientation\"");
                fail(key, "unknown attribute of " + host_.className(object_) + "; its attributes are " +
                              joinNames(settable));
            }
            values.push_back({key, found->record, valueBytes(found->record, key, value)});
        }
        return values;
    }

    /// Where an object stands is the host's, not a plug-in value taken raw: paths, pictures and
    /// flights cannot place an object that is nowhere.
    void requireFinite(const std::vector<float>& values, const std::string& what) const {
        if (!std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); }))
            fail(what, "the " + what + " must be finite numbers (no NaN or infinity)");
    }

    /// The float a JSON value denotes; fails with `what` otherwise.
    float toFloat(const Json& value, const std::string& attribute, const std::string& what) const {
        if (value.is_number_integer()) {
            return value.is_number_unsigned() ? static_cast<float>(value.get<std::uint64_t>())
                                              : static_cast<float>(value.get<std::int64_t>());
        }
        if (value.is_number_float()) {
            const double d = value.get<double>();
            if (!(std::fabs(d) <= std::numeric_limits<float>::max()))
                fail(attribute, kOutOfFloatRange);
            return static_cast<float>(d);
        }
        if (value.is_string()) {
            const std::string& text = value.get_ref<const std::string&>();
            if (text == "NaN") return std::numeric_limits<float>::quiet_NaN();
            if (text == "Infinity") return std::numeric_limits<float>::infinity();
            if (text == "-Infinity") return -std::numeric_limits<float>::infinity();
        }
        fail(attribute, what);
    }

    /// `count` floats from a JSON array of exactly that many numbers.
    std::vector<float> toFloats(const Json& value, std::size_t count, const std::string& attribute,
                                const std::string& what) const {
        if (!value.is_array() || value.size() != count) fail(attribute, what);
        std::vector<float> floats;
        for (const Json& element : value) floats.push_back(toFloat(element, attribute, what));
        return floats;
    }

    /// One attribute value converted by its type code, as the object's getter would write it.
    std::vector<std::uint8_t> valueBytes(const Attribute& record, const std::string& key, const Json& value) const {
        std::vector<std::uint8_t> bytes;
        auto append = [&bytes](const void* data, std::size_t size) {
            bytes.insert(bytes.end(), static_cast<const std::uint8_t*>(data),
                         static_cast<const std::uint8_t*>(data) + size);
        };
        switch (record.Type) {
            case kTypeFloat: {
                const float f = toFloat(value, key, "expects a number");
                append(&f, sizeof f);
                break;
            }
            case kTypePoint: {
                const auto p = toFloats(value, 3, key, "expects a point [x, y, z]");
                append(p.data(), sizeof(float) * 3);
                break;
            }
            case kTypeBool: {
                if (!value.is_boolean()) fail(key, "expects true or false");
                const std::uint8_t b = value.get<bool>() ? 1 : 0;
                append(&b, 1);
                break;
            }
            case kTypeULong: {
                const bool fits = value.is_number_unsigned()
                                      ? value.get<std::uint64_t>() <= 0xFFFFFFFFull
                                      : value.is_number_integer() && value.get<std::int64_t>() >= 0;
                if (!fits) fail(key, "expects an integer from 0 to 4294967295");
                const ULong u = static_cast<ULong>(value.get<std::uint64_t>());
                append(&u, sizeof u);
                break;
            }
            case kTypeGuidRef: {
                const _GUID target = reference(key, value);
                append(&target, sizeof target);
                break;
            }
            default:
                fail(key, "has a type a scene file cannot give");
        }
        return bytes;
    }

    /// The GUID a reference value names: an object of the scope, or none for null.
    _GUID reference(const std::string& key, const Json& value) const {
        if (value.is_null()) return _GUID{};
        if (!value.is_string())
            fail(key, std::string("expects the name of an object of the ") + scope_.word + ", or null");
        const std::string& name = value.get_ref<const std::string&>();
        const Handle found = scope_.find(name);
        if (found.IsNull()) fail(key, "refers to " + quoteName(name) + ", which is no object of the " + scope_.word);
        return found.Guid;
    }

    const Host& host_;
    const Handle& object_;
    const std::string& name_;
    const std::string& file_;
    const ReferenceScope& scope_;
};

/// Refuses repeated keys and keys outside `known`.
void checkEditKeys(const Json& entry, const std::string& name, const std::vector<std::string>& known,
                   const std::string& file) {
    for (const auto& [key, value] : entry.items()) {
        if (!key.empty() && key[0] == kDuplicateMark)
            throw InputError(file, name, unmarked(key), "the key is given twice");
        if (std::find(known.begin(), known.end(), key) == known.end())
            throw InputError(file, name, key, "unknown key; an edit has the keys " + joinNames(known));
    }
}

}  // namespace

ObjectEdit objectEditFromJson(const Host& host, const Json& entry, const Handle& object, const std::string& name,
                              const std::string& file, const ReferenceScope& scope) {
    return EntryReader(host, object, name, file, scope).read(entry);
}

void checkEditText(std::string_view json, const std::string& object) { parseJson(json, "", object); }

ObjectEdit readObjectEdit(Host& host, const Handle& object, std::string_view json,
                          const std::vector<std::string>& otherKeys, const std::string& file) {
    const std::string& name = host.nameOf(object);
    const Json entry = parseJson(json, file, name);
    if (!entry.is_object()) throw InputError(file, name, "", "the edit must be a JSON object");
    std::vector<std::string> known = {"position", "orientation", "attributes"};
    known.insert(known.end(), otherKeys.begin(), otherKeys.end());
    checkEditKeys(entry, name, known, file);
    const ReferenceScope scene{[&host](const std::string& target) {
                                   const Handle found = host.find(target);
                                   return isSceneObject(host, found) ? found : Handle();
                               },
                               "scene"};
    return objectEditFromJson(host, entry, object, name, file, scene);
}

void applyObjectEdit(Host& host, const Handle& object, const ObjectEdit& edit, const std::string& file,
                     const EditNotices& notices) {
    const std::string& name = host.nameOf(object);
    if (edit.position || edit.orientation) {
        _CCoordSystem<float> frame =
            edit.baseFrame ? *edit.baseFrame : host.getObjectPos(object).value_or(_CCoordSystem<float>());
        if (edit.position) frame.Origin = *edit.position;
        if (edit.orientation) frame.Orientation = *edit.orientation;
        if (!host.setObjectPos(object, frame))
            throw InputError(file, name, "ObjectPos", "the object refused its position");
        if (notices.moved) notices.moved();
    }
    for (const ObjectEdit::Value& value : edit.attributes) {
        if (!host.setAttribute(object, value.record, value.bytes))
            throw InputError(file, name, value.name, "the object refused the value");
        if (notices.attributeSet) notices.attributeSet(value.name);
    }
}

std::string attributeEditJson(const std::string& attribute, std::uint64_t value) {
    Json edit = Json::object();
    edit["attributes"][attribute] = value;
    return edit.dump();
}

}  // namespace host
