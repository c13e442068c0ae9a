#include "host/SceneFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <nlohmann/json.hpp>

#include "host/AtomicFile.h"
#include "host/ByteOrder.h"
#include "host/Streams.h"

namespace host {

namespace {

using Json = nlohmann::ordered_json;

/// Deeper child lists than this are refused: the walks over the tree recurse.
constexpr std::size_t kMaxDepth = 1000;
/// Prefixed to a key that an object gives a second time, so that the checks can name it.
constexpr char kDuplicateMark = '\x01';

std::string joinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text.empty() ? "none" : text;
}

std::string quoteName(std::string_view text) { return "\"" + std::string(text) + "\""; }

/// The name of an attribute record (its 31 bytes need not hold a terminator).
std::string attributeName(const Attribute& record) {
    return std::string(record.Name, strnlen(record.Name, sizeof record.Name));
}

/// Attribute types a scene file carries, with one value each.
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

/// Objects of the scene: the plug-in's and the host's plain objects.
bool inScene(const Host& host, const Handle& handle) {
    const ObjectKind kind = host.runtime().kind(handle);
    return host.object(handle) && (kind == ObjectKind::Module || kind == ObjectKind::Plain);
}

/// `handle` with the scene objects of its child list, and theirs. Recursive like every walk over
/// the tree; the loaders refuse child lists nested deeper than kMaxDepth.
SceneNode sceneNode(const Host& host, const Handle& handle) {
    SceneNode node{handle, {}};
    if (Descriptor* d = host.descriptor(handle))
        for (const Handle& child : d->children())
            if (inScene(host, child)) node.children.push_back(sceneNode(host, child));
    return node;
}

bool isIdentity(const _CMatrix3<float>& m) {
    static const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    return std::memcmp(&m, identity, sizeof identity) == 0;
}

// ---------------------------------------------------------------------------------------------
// JSON text -> DOM
//
// nlohmann's own DOM parser would hand us numbers as doubles and keep only the last of two equal
// keys. This builder keeps the float that the number's text denotes (as a double that converts
// back to that float exactly, so no second rounding happens) and marks repeated keys.

class DomBuilder final : public nlohmann::json_sax<Json> {
public:
    explicit DomBuilder(Json& root) : root_(root) {}

    bool null() override { return put(nullptr); }
    bool boolean(bool value) override { return put(value); }
    bool number_integer(number_integer_t value) override { return put(value); }
    bool number_unsigned(number_unsigned_t value) override { return put(value); }
    bool number_float(number_float_t value, const string_t& text) override {
        float f = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), f);
        // Out of the float's range: keep the double; the conversion reports it.
        return put(ec == std::errc() && end == text.data() + text.size() ? static_cast<double>(f) : value);
    }
    bool string(string_t& value) override { return put(value); }
    bool binary(binary_t& value) override { return put(Json::binary(value)); }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool key(string_t& value) override {
        // One mark is enough: a further repeat overwrites the marked slot, and the checks only
        // need to see that there was a repeat. (Marking every repeat anew would make each key
        // search an ever longer object.)
        key_ = value;
        if (stack_.back()->contains(key_)) key_.insert(0, 1, kDuplicateMark);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
        errorPosition_ = position;
        error_ = ex.what();
        return false;
    }

    const std::string& error() const { return error_; }
    std::size_t errorPosition() const { return errorPosition_; }

private:
    /// Stores `value` where the parser stands; returns where it went.
    Json* place(Json value) {
        if (stack_.empty()) {
            root_ = std::move(value);
            return &root_;
        }
        Json& top = *stack_.back();
        if (top.is_array()) {
            top.push_back(std::move(value));
            return &top.back();
        }
        Json& slot = top[key_];
        slot = std::move(value);
        return &slot;
    }
    bool put(Json value) {
        place(std::move(value));
        return true;
    }
    bool open(Json container) {
        stack_.push_back(place(std::move(container)));
        return true;
    }
    bool close() {
        stack_.pop_back();
        return true;
    }

    Json& root_;
    std::vector<Json*> stack_;
    std::string key_;
    std::string error_;
    std::size_t errorPosition_ = 0;
};

Json parseJson(std::string_view text, const std::string& file) {
    Json root;
    DomBuilder builder(root);
    if (Json::sax_parse(text.begin(), text.end(), &builder)) return root;
    // nlohmann's text reads "[json.exception.parse_error.101] parse error at line 3, column 5:
    // syntax error ..."; keep what follows "parse error".
    std::string reason = builder.error();
    const std::size_t at = reason.find("parse error ");
    if (at != std::string::npos && reason.compare(at + 12, 8, "at line ") == 0) {
        reason = "malformed JSON " + reason.substr(at + 12);
    } else {
        const std::size_t end = std::min(builder.errorPosition(), text.size());
        const std::string_view before = text.substr(0, end);
        const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
        const std::size_t lineStart = before.rfind('\n');
        const std::size_t column = end - (lineStart == std::string_view::npos ? 0 : lineStart + 1) + 1;
        reason = "malformed JSON at line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                 (at == std::string::npos ? reason : reason.substr(at + 12));
    }
    throw SceneError(file, "", "", reason);
}

// ---------------------------------------------------------------------------------------------
// DOM -> scene

/// Builds a scene from the DOM of a JSON scene file.
class JsonSceneBuilder {
public:
    JsonSceneBuilder(Host& host, const std::string& file) : host_(host), file_(file) {}

    /// The objects made, configured but before AfterLoad (see `finishLoad`).
    std::vector<Handle> build(const Json& root) {
        if (!root.is_object()) fail("", "", "the file must hold a JSON object with the key \"objects\"");
        checkKeys(root, "", {"objects"}, "a scene file");
        const auto objects = root.find("objects");
        if (objects == root.end() || !objects->is_array())
            fail("", "objects", "the file must hold a JSON object whose \"objects\" is an array");
        for (std::size_t i = 0; i < objects->size(); ++i)
            create((*objects)[i], Handle(), "objects[" + std::to_string(i) + "]", 1);
        for (const Made& made : made_) configure(made);
        std::vector<Handle> handles;
        handles.reserve(made_.size());
        for (const Made& made : made_) handles.push_back(made.handle);
        return handles;
    }

private:
    struct Made {
        Handle handle;
        std::string name;
        const Json* entry;
    };

    [[noreturn]] void fail(const std::string& object, const std::string& attribute, const std::string& reason) const {
        throw SceneError(file_, object, attribute, reason);
    }

    /// Refuses repeated keys and keys outside `known`; `holder` says whose keys they are.
    void checkKeys(const Json& entry, const std::string& object, const std::vector<std::string>& known,
                   const std::string& holder) const {
        for (const auto& [key, value] : entry.items()) {
            if (!key.empty() && key[0] == kDuplicateMark)
                fail(object, key.substr(key.find_first_not_of(kDuplicateMark)), "the key is given twice");
            if (std::find(known.begin(), known.end(), key) == known.end())
                fail(object, key, "unknown key; " + holder + " has the keys " + joinNames(known));
        }
    }

    /// Creates the object of `entry` and, below it, its children (first pass: names and
    /// classes, so that every reference can be resolved in the second).
    void create(const Json& entry, const Handle& parent, const std::string& label, std::size_t depth) {
        if (!entry.is_object()) fail(label, "", "an object must be a JSON object");
        const auto nameIt = entry.find("name");
        if (nameIt == entry.end() || !nameIt->is_string() || nameIt->get_ref<const std::string&>().empty())
            fail(label, "name", "every object needs a name (a non-empty string)");
        const std::string& name = nameIt->get_ref<const std::string&>();
        checkKeys(entry, name, {"name", "class", "position", "orientation", "attributes", "children"}, "an object");
        if (names_.contains(name)) fail(name, "name", "the name is used by another object of the file");
        if (!host_.find(name).IsNull()) fail(name, "name", "the name is used by an object the host already has");
        if (depth > kMaxDepth) fail(name, "children", "child lists nested deeper than " + std::to_string(kMaxDepth));

        Handle handle;
        const auto classIt = entry.find("class");
        if (classIt != entry.end()) {
            if (!classIt->is_string()) fail(name, "class", "the class must be a string");
            const std::string& className = classIt->get_ref<const std::string&>();
            const auto& factories = host_.factories();
            const bool known = std::any_of(factories.begin(), factories.end(),
                                           [&](const FactoryInfo& f) { return f.className == className; });
            if (!known) {
                std::vector<std::string> classes;
                for (const FactoryInfo& f : factories) classes.push_back(f.className);
                fail(name, "class",
                     "unknown class " + quoteName(className) + "; the classes are " + joinNames(classes) +
                         " (leave \"class\" out for a plain object)");
            }
            handle = host_.create(className, name, parent);
        } else {
            handle = host_.createPlain(name, {0, 0, 0}, parent);
        }
        names_.emplace(name, handle);
        made_.push_back({handle, name, &entry});

        const auto children = entry.find("children");
        if (children == entry.end()) return;
        if (!children->is_array()) fail(name, "children", "children must be an array of objects");
        for (std::size_t i = 0; i < children->size(); ++i)
            create((*children)[i], handle, name + ".children[" + std::to_string(i) + "]", depth + 1);
    }

    /// The float a JSON value denotes; fails with `what` otherwise.
    float toFloat(const Json& value, const std::string& object, const std::string& attribute,
                  const std::string& what) const {
        if (value.is_number_integer()) {
            return value.is_number_unsigned() ? static_cast<float>(value.get<std::uint64_t>())
                                              : static_cast<float>(value.get<std::int64_t>());
        }
        if (value.is_number_float()) {
            const double d = value.get<double>();
            if (!(std::fabs(d) <= std::numeric_limits<float>::max()))
                fail(object, attribute, "the value is out of the range of a float");
            return static_cast<float>(d);
        }
        if (value.is_string()) {
            const std::string& text = value.get_ref<const std::string&>();
            if (text == "NaN") return std::numeric_limits<float>::quiet_NaN();
            if (text == "Infinity") return std::numeric_limits<float>::infinity();
            if (text == "-Infinity") return -std::numeric_limits<float>::infinity();
        }
        fail(object, attribute, what);
    }

    /// `count` floats from a JSON array of exactly that many numbers.
    std::vector<float> toFloats(const Json& value, std::size_t count, const std::string& object,
                                const std::string& attribute, const std::string& what) const {
        if (!value.is_array() || value.size() != count) fail(object, attribute, what);
        std::vector<float> floats;
        for (const Json& element : value) floats.push_back(toFloat(element, object, attribute, what));
        return floats;
    }

    /// Second pass: position, orientation and attributes of one object.
    void configure(const Made& made) {
        const ObjectEdit edit = readEdit(*made.entry, made.handle, made.name);
        if (edit.position || edit.orientation) {
            _CCoordSystem<float> frame;
            if (edit.position) frame.Origin = *edit.position;
            if (edit.orientation) frame.Orientation = *edit.orientation;
            if (!host_.setObjectPos(made.handle, frame))
                fail(made.name, "ObjectPos", "the object refused its position");
        }
        for (const ObjectEdit::Value& value : edit.attributes)
            if (!host_.setAttribute(made.handle, value.record, value.bytes))
                fail(made.name, value.name, "the object refused the value");
    }

public:
    /// The position, orientation and attributes an edit gives `object` (named `name`), checked
    /// and converted as a scene file's entry; references name objects of the scene. Keys other
    /// than these three must be in `otherKeys`.
    ObjectEdit edit(const Json& entry, const Handle& object, const std::string& name,
                    const std::vector<std::string>& otherKeys) {
        editing_ = true;
        if (!entry.is_object()) fail(name, "", "the edit must be a JSON object");
        std::vector<std::string> known = {"position", "orientation", "attributes"};
        known.insert(known.end(), otherKeys.begin(), otherKeys.end());
        checkKeys(entry, name, known, "an edit");
        return readEdit(entry, object, name);
    }

private:
    ObjectEdit readEdit(const Json& entry, const Handle& object, const std::string& name) const {
        ObjectEdit edit;
        const auto position = entry.find("position");
        if (position != entry.end()) {
            const auto p = toFloats(*position, 3, name, "position", "the position must be [x, y, z]");
            edit.position = _Point3<float>{p[0], p[1], p[2]};
        }
        const auto orientation = entry.find("orientation");
        if (orientation != entry.end()) {
            const auto m =
                toFloats(*orientation, 9, name, "orientation", "the orientation must be nine numbers, row by row");
            _CMatrix3<float> rows;
            std::memcpy(&rows, m.data(), sizeof(float) * 9);
            edit.orientation = rows;
        }

        const auto attributes = entry.find("attributes");
        if (attributes == entry.end()) return edit;
        if (!attributes->is_object()) fail(name, "attributes", "attributes must be a JSON object");
        const std::vector<AttributeInfo> records = host_.attributes(object);
        for (const auto& [key, value] : attributes->items()) {
            if (!key.empty() && key[0] == kDuplicateMark)
                fail(name, key.substr(key.find_first_not_of(kDuplicateMark)), "the attribute is given twice");
            // A named reference for the lambda: clang 14 cannot capture a structured binding.
            const auto& attribute = key;
            const auto found = std::find_if(records.begin(), records.end(), [&](const AttributeInfo& a) {
                return attributeName(a.record) == attribute;
            });
            if (found == records.end() || !isSceneType(found->record)) {
                std::vector<std::string> settable;
                for (const AttributeInfo& a : records)
                    if (isSceneType(a.record)) settable.push_back(attributeName(a.record));
                const std::string className = host_.className(object);
                if (found != records.end() && found->record.Type == kTypeObjectPos)
                    fail(name, key, "\"ObjectPos\" is given by \"position\" and \"orientation\"");
                fail(name, key, "unknown attribute of " + className + "; its attributes are " + joinNames(settable));
            }
            edit.attributes.push_back({key, found->record, valueBytes(name, found->record, key, value)});
        }
        return edit;
    }

    /// One attribute value of `object` converted by its type code, as its getter would write it.
    std::vector<std::uint8_t> valueBytes(const std::string& object, const Attribute& record, const std::string& key,
                                         const Json& value) const {
        std::vector<std::uint8_t> bytes;
        auto append = [&bytes](const void* data, std::size_t size) {
            bytes.insert(bytes.end(), static_cast<const std::uint8_t*>(data),
                         static_cast<const std::uint8_t*>(data) + size);
        };
        switch (record.Type) {
            case kTypeFloat: {
                const float f = toFloat(value, object, key, "expects a number");
                append(&f, sizeof f);
                break;
            }
            case kTypePoint: {
                const auto p = toFloats(value, 3, object, key, "expects a point [x, y, z]");
                append(p.data(), sizeof(float) * 3);
                break;
            }
            case kTypeBool: {
                if (!value.is_boolean()) fail(object, key, "expects true or false");
                const std::uint8_t b = value.get<bool>() ? 1 : 0;
                append(&b, 1);
                break;
            }
            case kTypeULong: {
                const bool fits = value.is_number_unsigned()
                                      ? value.get<std::uint64_t>() <= 0xFFFFFFFFull
                                      : value.is_number_integer() && value.get<std::int64_t>() >= 0;
                if (!fits) fail(object, key, "expects an integer from 0 to 4294967295");
                const ULong u = static_cast<ULong>(value.get<std::uint64_t>());
                append(&u, sizeof u);
                break;
            }
            case kTypeGuidRef: {
                _GUID target{};
                if (value.is_string()) {
                    const std::string& name = value.get_ref<const std::string&>();
                    const Handle found = resolve(name);
                    if (found.IsNull())
                        fail(object, key,
                             "refers to " + quoteName(name) + ", which is no object of the " +
                                 (editing_ ? "scene" : "file"));
                    target = found.Guid;
                } else if (!value.is_null()) {
                    fail(object, key,
                         std::string("expects the name of an object of the ") + (editing_ ? "scene" : "file") +
                             ", or null");
                }
                append(&target, sizeof target);
                break;
            }
            default:
                fail(object, key, "has a type a scene file cannot give");
        }
        return bytes;
    }

    /// The object a reference names: one of the file while loading, one of the scene when editing.
    Handle resolve(const std::string& name) const {
        if (!editing_) {
            const auto it = names_.find(name);
            return it == names_.end() ? Handle() : it->second;
        }
        const Handle found = host_.find(name);
        return !found.IsNull() && inScene(host_, found) ? found : Handle();
    }

    Host& host_;
    const std::string& file_;
    std::map<std::string, Handle, std::less<>> names_;
    std::vector<Made> made_;
    bool editing_ = false;
};

// ---------------------------------------------------------------------------------------------
// Scene -> JSON text

/// Writes the scene as indented JSON, one key per line.
class JsonSceneWriter {
public:
    explicit JsonSceneWriter(const Host& host) : host_(host) {}

    std::string write() {
        const std::vector<SceneNode> roots = sceneTree(host_);
        out_ = "{\n  \"objects\": [";
        writeNodes(roots, 2);
        out_ += "]\n}\n";
        return out_;
    }

private:
    static std::string jsonFloats(const float* values, std::size_t count) {
        std::string text = "[";
        for (std::size_t i = 0; i < count; ++i) text += (i ? ", " : "") + jsonFloat(values[i]);
        return text + "]";
    }

    void line(std::size_t depth, const std::string& text) {
        out_ += "\n";
        out_.append(2 * depth, ' ');
        out_ += text;
    }

    void writeNodes(const std::vector<SceneNode>& nodes, std::size_t depth) {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            line(depth, "{");
            writeObject(nodes[i], depth + 1);
            line(depth, i + 1 < nodes.size() ? "}," : "}");
        }
        if (!nodes.empty()) line(depth - 1, "");
    }

    void writeObject(const SceneNode& node, std::size_t depth) {
        const std::string& name = host_.nameOf(node.object);
        if (name.empty()) throw SceneError("", formatGuid(node.object.Guid), "name", "a scene object has no name");
        std::vector<std::string> fields;
        fields.push_back("\"name\": " + jsonString(name));
        if (host_.runtime().kind(node.object) == ObjectKind::Module)
            fields.push_back("\"class\": " + jsonString(host_.className(node.object)));
        const std::optional<_CCoordSystem<float>> frame = host_.getObjectPos(node.object);
        if (frame) {
            const float origin[3] = {frame->Origin.x, frame->Origin.y, frame->Origin.z};
            fields.push_back("\"position\": " + jsonFloats(origin, 3));
            if (!isIdentity(frame->Orientation)) {
                float m[9];
                std::memcpy(m, &frame->Orientation, sizeof m);
                fields.push_back("\"orientation\": " + jsonFloats(m, 9));
            }
        }
        std::vector<std::string> attributes;
        for (const Attribute& record : host_.ownAttributes(node.object)) {
            if (!isSceneType(record)) continue;
            const std::string key = attributeName(record);
            attributes.push_back(jsonString(key) + ": " + attributeValue(node.object, name, record, key));
        }
        for (std::size_t i = 0; i < fields.size(); ++i)
            line(depth,
                 fields[i] + (i + 1 < fields.size() || !attributes.empty() || !node.children.empty() ? "," : ""));
        if (!attributes.empty()) {
            line(depth, "\"attributes\": {");
            for (std::size_t i = 0; i < attributes.size(); ++i)
                line(depth + 1, attributes[i] + (i + 1 < attributes.size() ? "," : ""));
            line(depth, node.children.empty() ? "}" : "},");
        }
        if (!node.children.empty()) {
            line(depth, "\"children\": [");
            writeNodes(node.children, depth + 1);
            out_ += "]";
        }
    }

    std::string attributeValue(const Handle& handle, const std::string& name, const Attribute& record,
                               const std::string& key) const {
        const auto bytes = host_.getAttribute(handle, record);
        if (!bytes) throw SceneError("", name, key, "the object did not give the attribute's value");
        std::optional<std::string> text = attributeJson(host_, record, *bytes);
        if (!text) {
            _GUID target{};
            std::memcpy(&target, bytes->data(), std::min(bytes->size(), sizeof target));
            throw SceneError("", name, key, "refers to " + formatGuid(target) + ", which is no object of the scene");
        }
        return std::move(*text);
    }

    const Host& host_;
    std::string out_;
};

// ---------------------------------------------------------------------------------------------
// .sco

/// The class GUID a .sco stores for the object; fails for a class no factory makes.
_GUID scoClassGuid(const Host& host, const Handle& handle) {
    if (host.runtime().kind(handle) == ObjectKind::Plain) return kPlainObjectClassGuid;
    const std::string className = host.className(handle);
    for (const FactoryInfo& f : host.factories())
        if (f.className == className) return f.classGuid;
    throw SceneError("", host.nameOf(handle), "class", "no factory makes the class " + quoteName(className));
}

void collectPreOrder(const std::vector<SceneNode>& nodes, std::vector<Handle>& out) {
    for (const SceneNode& node : nodes) {
        out.push_back(node.object);
        collectPreOrder(node.children, out);
    }
}

void writeSco(Host& host, StreamBase& out) {
    std::vector<Handle> objects;
    collectPreOrder(sceneTree(host), objects);
    std::vector<std::uint8_t> head(kScoMagic, kScoMagic + sizeof kScoMagic);
    out.Write(head.data(), static_cast<ULong>(head.size()));
    out.StoreULong(kScoFormatVersion);
    out.StoreULong(static_cast<ULong>(objects.size()));
    for (const Handle& handle : objects) {
        const std::string& name = host.nameOf(handle);
        if (name.empty()) throw SceneError("", formatGuid(handle.Guid), "name", "a scene object has no name");
        const Descriptor* descriptor = host.descriptor(handle);
        for (const _GUID& guid :
             {scoClassGuid(host, handle), handle.Guid, descriptor ? descriptor->parent().Guid : _GUID{}})
            out.Write(guidBytes(guid).data(), sizeof(GuidBytes));
        out.StoreULong(static_cast<ULong>(name.size()));
        out.Write(name.data(), static_cast<ULong>(name.size()));
        const std::optional<std::vector<std::uint8_t>> record = host.save(handle);
        if (!record) throw SceneError("", name, "record", "its Serialize refused to write the record");
        out.StoreULong(static_cast<ULong>(record->size()));
        out.Write(record->data(), static_cast<ULong>(record->size()));
    }
}

/// Reads a .sco image: every length is checked against what remains before it is used.
class ScoReader {
public:
    ScoReader(Host& host, std::span<const std::uint8_t> bytes, const std::string& file)
        : host_(host), bytes_(bytes), file_(file) {}

    /// The objects read, before AfterLoad (see `finishLoad`).
    std::vector<Handle> read() {
        label_ = "";
        if (!isScoImage(bytes_)) fail("header", "not a .sco file (its first bytes are not the .sco magic)");
        position_ = sizeof kScoMagic;
        const ULong version = word("format version");
        if (version != kScoFormatVersion)
            fail("format version", "format version " + std::to_string(version) + " is not supported (this reads " +
                                       std::to_string(kScoFormatVersion) + ")");
        // The count is not trusted for anything but the loop: each object's fields are checked
        // against what remains as they are read, so a cut names the object where it happened.
        const ULong count = word("object count");

        std::vector<Handle> loaded;
        // Nesting depth of each object read, by its place in `loaded`. The runtime numbers its
        // objects in order of creation, so an object's place is its lookup reference minus the
        // first one's: no map beside the runtime's own (which would cost more than the
        // runtime's entry itself at a million objects).
        std::vector<std::uint16_t> depths;
        const Runtime& runtime = host_.runtime();
        ULong first = 0;  // the first object's reference
        auto placeOf = [&](const _GUID& guid) -> std::optional<std::size_t> {
            if (loaded.empty()) return std::nullopt;
            const Handle handle(guid);
            const ULong ref = runtime.lookupRefOf(handle);
            if (ref == 0 || ref < first || ref - first >= loaded.size()) return std::nullopt;
            const std::size_t place = ref - first;
            if (!(loaded[place] == handle)) return std::nullopt;
            return place;
        };
        for (ULong index = 0; index < count; ++index) {
            label_ = "object #" + std::to_string(index);
            const _GUID classGuid = guid("class GUID");
            const _GUID objectGuid = guid("GUID");
            const _GUID parentGuid = guid("parent GUID");
            const std::string name = text("name");
            if (name.empty()) fail("name", "the object has no name");
            try {
                (void)Json(name).dump();
            } catch (const nlohmann::json::exception&) {
                fail("name", "the name is not valid UTF-8");
            }
            label_ = name;
            const std::span<const std::uint8_t> record = chunk("record");
            if (!host_.find(name).IsNull()) fail("name", "the name is used by another object");
            if (CGUID(objectGuid).IsNull()) fail("GUID", "the object's GUID is null");
            if (host_.object(Handle(objectGuid))) fail("GUID", formatGuid(objectGuid) + " is used by another object");
            std::size_t depth = 1;
            if (!CGUID(parentGuid).IsNull()) {
                const auto parent = placeOf(parentGuid);
                if (!parent)
                    fail("parent GUID", formatGuid(parentGuid) + " is not an object before this one in the file");
                depth = depths[*parent] + std::size_t{1};
                if (depth > kMaxDepth)
                    fail("parent GUID", "child lists nested deeper than " + std::to_string(kMaxDepth));
            }

            const Handle handle = make(classGuid, objectGuid, parentGuid, name);
            depths.push_back(static_cast<std::uint16_t>(depth));
            if (loaded.empty()) first = runtime.lookupRefOf(handle);
            loaded.push_back(handle);
            std::size_t unread = 0;
            if (!host_.load(handle, record, &unread))
                fail("record", "its Serialize refused the record (truncated or corrupt)");
            if (unread != 0) fail("record", std::to_string(unread) + " bytes of the record were left unread (corrupt)");
        }
        label_ = "";
        if (remaining() != 0) fail("", std::to_string(remaining()) + " bytes follow the last object (corrupt)");
        checkReferences(loaded);
        return loaded;
    }

private:
    [[noreturn]] void fail(const std::string& field, const std::string& reason) const {
        throw SceneError(file_, label_, field, reason);
    }
    std::size_t remaining() const { return bytes_.size() - position_; }

    const std::uint8_t* take(std::size_t count, const std::string& field) {
        if (count > remaining())
            fail(field, "only " + std::to_string(remaining()) + " of the " + std::to_string(count) +
                            " bytes it needs remain (truncated)");
        const std::uint8_t* at = bytes_.data() + position_;
        position_ += count;
        return at;
    }
    ULong word(const std::string& field) { return readLE32(take(4, field)); }
    _GUID guid(const std::string& field) { return guidFromBytes(take(16, field)); }
    std::span<const std::uint8_t> chunk(const std::string& field) {
        const ULong length = word(field + " length");
        return {take(length, field), length};
    }
    std::string text(const std::string& field) {
        const auto bytes = chunk(field);
        return std::string(bytes.begin(), bytes.end());
    }

    Handle make(const _GUID& classGuid, const _GUID& objectGuid, const _GUID& parentGuid, const std::string& name) {
        Runtime& runtime = host_.runtime();
        if (CGUID(classGuid) == CGUID(kPlainObjectClassGuid)) {
            return runtime.addWithGuid(objectGuid, name, Handle(parentGuid), ObjectKind::Plain,
                                       [](const CGUID& guid, const CGUID& second, ISCODescriptor* descriptor) {
                                           return new HostObject(guid, second, descriptor);
                                       });
        }
        for (const FactoryInfo& info : host_.factories()) {
            if (!(CGUID(info.classGuid) == CGUID(classGuid))) continue;
            RtsObjectFactory* factory = info.factory;
            const Handle made =
                runtime.addWithGuid(objectGuid, name, Handle(parentGuid), ObjectKind::Module,
                                    [factory](const CGUID& guid, const CGUID& second, ISCODescriptor* descriptor) {
                                        return factory->New(guid, second, descriptor);
                                    });
            if (made.IsNull()) throw std::runtime_error("the factory of " + info.className + " made no object");
            return made;
        }
        std::vector<std::string> classes;
        for (const FactoryInfo& f : host_.factories()) classes.push_back(f.className + " " + formatGuid(f.classGuid));
        classes.push_back("plain objects " + formatGuid(kPlainObjectClassGuid));
        fail("class GUID", "unknown class " + formatGuid(classGuid) + "; the classes are " + joinNames(classes));
    }

    /// Every reference of a loaded object names nothing or an object of the file.
    void checkReferences(const std::vector<Handle>& loaded) {
        // A sorted array: a sixth of a tree's memory per object, which counts at a million.
        std::vector<GuidBytes> guids;
        guids.reserve(loaded.size());
        for (const Handle& handle : loaded) guids.push_back(guidBytes(handle.Guid));
        std::sort(guids.begin(), guids.end());
        for (const Handle& handle : loaded) {
            label_ = host_.nameOf(handle);
            for (const Attribute& record : host_.ownAttributes(handle)) {
                if (record.Type != kTypeGuidRef || !isSceneType(record)) continue;
                const auto value = host_.getAttribute(handle, record);
                if (!value || value->size() != sizeof(_GUID)) continue;
                _GUID target;
                std::memcpy(&target, value->data(), sizeof target);
                if (!CGUID(target).IsNull() && !std::binary_search(guids.begin(), guids.end(), guidBytes(target)))
                    fail(attributeName(record), "refers to " + formatGuid(target) + ", which is no object of the file");
            }
        }
    }

    Host& host_;
    std::span<const std::uint8_t> bytes_;
    const std::string& file_;
    std::size_t position_ = 0;
    std::string label_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

namespace {
std::string joinError(const std::string& file, const std::string& object, const std::string& attribute,
                      const std::string& reason) {
    std::string text;
    for (const std::string* part : {&file, &object, &attribute})
        if (!part->empty()) text += *part + ": ";
    return text + reason;
}
}  // namespace

SceneError::SceneError(std::string file, std::string object, std::string attribute, std::string reason)
    : std::runtime_error(joinError(file, object, attribute, reason)),
      file_(std::move(file)),
      object_(std::move(object)),
      attribute_(std::move(attribute)),
      reason_(std::move(reason)) {}

std::vector<SceneNode> sceneTree(const Host& host) {
    std::vector<SceneNode> roots;
    for (const Handle& handle : host.runtime().objects()) {
        const Descriptor* d = host.descriptor(handle);
        if (d && d->parent().IsNull() && inScene(host, handle)) roots.push_back(sceneNode(host, handle));
    }
    return roots;
}

bool isScoImage(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof kScoMagic && std::memcmp(bytes.data(), kScoMagic, sizeof kScoMagic) == 0;
}

namespace {

/// The objects of a JSON scene, before AfterLoad. The DOM is gone when this returns.
std::vector<Handle> buildJsonScene(Host& host, std::string_view text, const std::string& file) {
    const Json root = parseJson(text, file);
    return JsonSceneBuilder(host, file).build(root);
}

/// AfterLoad on every loaded object, in file order. Called once the file's bytes and DOM are
/// released: the paths refit here, and their work arrays need not share the peak with them.
std::vector<Handle> finishLoad(Host& host, std::vector<Handle> loaded) {
    for (const Handle& handle : loaded) host.afterLoad(handle);
    return loaded;
}

}  // namespace

std::vector<Handle> loadJsonScene(Host& host, std::string_view text, const std::string& file) {
    return finishLoad(host, buildJsonScene(host, text, file));
}

ObjectEdit readObjectEdit(Host& host, const Handle& object, std::string_view json,
                          const std::vector<std::string>& otherKeys, const std::string& file) {
    const Json root = parseJson(json, file);
    return JsonSceneBuilder(host, file).edit(root, object, host.nameOf(object), otherKeys);
}

std::vector<Handle> loadScoScene(Host& host, std::span<const std::uint8_t> bytes, const std::string& file) {
    return finishLoad(host, ScoReader(host, bytes, file).read());
}

std::vector<Handle> loadSceneFile(Host& host, const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (path == "-") {
        // Standard input, JSON or .sco by its content like a file.
        bytes.assign(std::istreambuf_iterator<char>(std::cin.rdbuf()), std::istreambuf_iterator<char>());
        if (std::cin.bad()) throw SceneError(path, "", "", "cannot read standard input");
    } else {
        std::error_code error;
        if (std::filesystem::is_directory(path, error))
            throw SceneError(path, "", "", "is a directory, not a scene file");
        std::ifstream in(path, std::ios::binary);
        if (!in) throw SceneError(path, "", "", std::string("cannot open the file: ") + std::strerror(errno));
        // Sized once when the size is known (a regular file): grown by doubling, a large scene's
        // bytes would take up to twice their size.
        if (const auto size = std::filesystem::file_size(path, error); !error && size > 0) bytes.reserve(size);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) throw SceneError(path, "", "", std::string("cannot read the file: ") + std::strerror(errno));
    }
    std::vector<Handle> loaded =
        isScoImage(bytes)
            ? ScoReader(host, bytes, path).read()
            : buildJsonScene(host, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path);
    std::vector<std::uint8_t>().swap(bytes);
    return finishLoad(host, std::move(loaded));
}

std::string exportJson(const Host& host) { return JsonSceneWriter(host).write(); }

std::vector<std::uint8_t> saveScoImage(Host& host) {
    MemoryStream out;
    writeSco(host, out);
    return out.bytes();
}

void saveScoFile(Host& host, const std::string& path) {
    writeFileAtomically(path, [&](const std::string& temporary) {
        FileStream out(temporary, FileStream::Mode::Save);
        if (!out.isOpen()) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
        writeSco(host, out);
        if (!out.close()) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    });
}

std::string jsonString(std::string_view text) {
    return Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string jsonFloat(float value) {
    if (std::isnan(value)) return "\"NaN\"";
    if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    // "-0" would read back as the integer 0.
    if (value == 0 && std::signbit(value)) return "-0.0";
    return formatFloat(value);
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
            if (!inScene(host, Handle(target)) || host.nameOf(Handle(target)).empty()) return std::nullopt;
            return jsonString(host.nameOf(Handle(target)));
        }
    }
}

std::string formatFloat(float value) {
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("nan");
}

}  // namespace host
