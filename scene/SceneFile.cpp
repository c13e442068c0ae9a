#include "scene/SceneFile.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>
#include <nlohmann/json.hpp>

#include "base/AtomicFile.h"
#include "base/ByteOrder.h"
#include "base/Decimal.h"
#include "base/GuidText.h"
#include "host/ClassStorage.h"

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

/// A SAX handler that keeps why and where the text stopped being JSON.
class SaxReader : public nlohmann::json_sax<Json> {
public:
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
        errorPosition_ = position;
        error_ = ex.what();
        return false;
    }
    const std::string& error() const { return error_; }
    std::size_t errorPosition() const { return errorPosition_; }

private:
    std::string error_;
    std::size_t errorPosition_ = 0;
};

// ---------------------------------------------------------------------------------------------
// JSON text -> DOM
//
// nlohmann's own DOM parser would hand us numbers as doubles and keep only the last of two equal
// keys. This builder keeps the float that the number's text denotes (as a double that converts
// back to that float exactly, so no second rounding happens) and marks repeated keys.

class DomBuilder final : public SaxReader {
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
};

/// The text of a JSON scene from its start up to a byte position, for placing an error.
using TextPrefix = std::function<std::string(std::size_t)>;

/// Throws the scene error for a text that is no JSON. nlohmann's reason reads
/// "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ...": what
/// follows "parse error" is kept. Reasons without a place (a number out of range) get one from
/// the error's byte position.
[[noreturn]] void failParse(std::string reason, std::size_t position, const TextPrefix& prefix,
                            const std::string& file) {
    const std::size_t at = reason.find("parse error ");
    if (at != std::string::npos && reason.compare(at + 12, 8, "at line ") == 0) {
        reason = "malformed JSON " + reason.substr(at + 12);
    } else {
        const std::string before = prefix(position);
        const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
        const std::size_t lineStart = before.rfind('\n');
        const std::size_t column = before.size() - (lineStart == std::string::npos ? 0 : lineStart + 1) + 1;
        reason = "malformed JSON at line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                 (at == std::string::npos ? reason : reason.substr(at + 12));
    }
    throw InputError(file, "", "", reason);
}

TextPrefix prefixOf(std::string_view text) {
    return [text](std::size_t position) { return std::string(text.substr(0, std::min(position, text.size()))); };
}

Json parseJson(std::string_view text, const std::string& file) {
    Json root;
    DomBuilder builder(root);
    if (Json::sax_parse(text.begin(), text.end(), &builder)) return root;
    failParse(builder.error(), builder.errorPosition(), prefixOf(text), file);
}

// ---------------------------------------------------------------------------------------------
// JSON text -> scene
//
// A scene of a million waypoints is a few hundred megabytes of JSON, and a DOM of it several
// times that. The loader holds neither: it reads the text twice. The first pass takes down the
// shape of the objects (names, classes, nesting, the keys each gives), so that every object can
// be checked and created before any reference has to be resolved; the second reads each
// object's position, orientation and attributes, a few values at a time, and sets them. The
// objects are checked, created and configured in the order a DOM walk would take, so the
// mistake reported is the same whichever way the text is read.

/// Runs a SAX handler over the whole text from its start; false when the text is no JSON (the
/// handler has the reason).
using TextPass = std::function<bool(nlohmann::json_sax<Json>&)>;

/// Keys of an object entry, as bits.
enum EntryKey : std::uint8_t {
    kKeyName = 1,
    kKeyClass = 2,
    kKeyPosition = 4,
    kKeyOrientation = 8,
    kKeyAttributes = 16,
    kKeyChildren = 32,
};
constexpr std::uint8_t kEditKeys = kKeyPosition | kKeyOrientation | kKeyAttributes;

std::uint8_t entryKeyBit(std::string_view key) {
    static constexpr std::pair<std::string_view, EntryKey> keys[] = {
        {"name", kKeyName},
        {"class", kKeyClass},
        {"position", kKeyPosition},
        {"orientation", kKeyOrientation},
        {"attributes", kKeyAttributes},
        {"children", kKeyChildren},
    };
    for (const auto& [text, bit] : keys)
        if (key == text) return bit;
    return 0;
}

const std::vector<std::string>& entryKeyNames() {
    static const std::vector<std::string> names = {"name", "class", "position", "orientation", "attributes",
                                                   "children"};
    return names;
}

/// A key without the marks of a repeat.
std::string unmarked(const std::string& key) {
    const std::size_t start = key.find_first_not_of(kDuplicateMark);
    return start == std::string::npos ? std::string() : key.substr(start);
}

/// The first key of an object that is not allowed: a repeat, or one the object cannot have. A
/// DOM lists an object's keys in the order they first appear, a repeat where it first repeats,
/// so the first such event in the text is the one a DOM walk meets first.
struct KeyMistake {
    std::string key;
    bool repeated = false;
};

/// Notes a key of an object whose known keys so far are `given`; the first mistake goes to
/// `mistake`. Returns the key's bit when this is its first appearance, 0 otherwise.
std::uint8_t noteKey(const std::string& key, std::uint8_t bit, std::uint8_t& given,
                     std::optional<KeyMistake>& mistake) {
    if (!key.empty() && key[0] == kDuplicateMark) {
        if (!mistake) mistake = KeyMistake{unmarked(key), true};
        return 0;
    }
    if (bit == 0) {
        if (!mistake) mistake = KeyMistake{key, false};
        return 0;
    }
    if (given & bit) {
        if (!mistake) mistake = KeyMistake{key, true};
        return 0;
    }
    given |= bit;
    return bit;
}

/// The parent of a top-level entry.
constexpr std::uint32_t kTopLevel = 0xFFFFFFFF;

/// What the first pass learns of one object entry.
struct EntryShape {
    static constexpr std::uint32_t kNoClass = 0xFFFFFFFF;
    static constexpr std::uint32_t kClassNotString = 0xFFFFFFFE;
    static constexpr std::uint32_t kNoMistake = 0xFFFFFFFF;

    std::string name;
    std::uint32_t parent = kTopLevel;  ///< entry index of the parent
    std::uint32_t place = 0;           ///< index in the parent's "children" or in "objects"
    std::uint32_t depth = 1;
    std::uint32_t classIndex = kNoClass;  ///< into the class names read
    std::uint32_t mistake = kNoMistake;   ///< into the key mistakes read
    std::uint8_t given = 0;               ///< EntryKey bits of the keys given
    bool isObject = true;
    bool nameIsString = false;
    bool childrenIsArray = false;
};

/// Follows a JSON scene's structure through the SAX events: the top-level object, its
/// "objects", every object entry in pre-order, and their "children". What the keys of the top
/// level and of an entry mean is the pass's own; a value a pass captures is read whole into a
/// DOM and handed over.
class SceneWalker : public SaxReader {
public:
    bool null() override { return value(Value::Scalar, [](DomBuilder& b) { return b.null(); }); }
    bool boolean(bool v) override { return value(Value::Scalar, [&](DomBuilder& b) { return b.boolean(v); }); }
    bool number_integer(number_integer_t v) override {
        return value(Value::Scalar, [&](DomBuilder& b) { return b.number_integer(v); });
    }
    bool number_unsigned(number_unsigned_t v) override {
        return value(Value::Scalar, [&](DomBuilder& b) { return b.number_unsigned(v); });
    }
    bool number_float(number_float_t v, const string_t& text) override {
        return value(Value::Scalar, [&](DomBuilder& b) { return b.number_float(v, text); });
    }
    bool string(string_t& v) override {
        return value(Value::String, [&](DomBuilder& b) { return b.string(v); }, &v);
    }
    bool binary(binary_t& v) override { return value(Value::Scalar, [&](DomBuilder& b) { return b.binary(v); }); }
    bool start_object(std::size_t n) override {
        return value(Value::Object, [&](DomBuilder& b) { return b.start_object(n); });
    }
    bool start_array(std::size_t n) override {
        return value(Value::Array, [&](DomBuilder& b) { return b.start_array(n); });
    }
    bool end_object() override { return close([](DomBuilder& b) { return b.end_object(); }); }
    bool end_array() override { return close([](DomBuilder& b) { return b.end_array(); }); }
    bool key(string_t& key) override {
        if (capture_) return capture_->builder.key(key);
        const Open& top = stack_.back();
        role_ = top.frame == Frame::Root ? rootKey(key) : top.frame == Frame::Entry ? entryKey(top.entry, key) : 0;
        if (top.frame == Frame::Entry && captures(role_)) captureKey_ = key;
        return true;
    }

    bool rootIsObject() const { return rootIsObject_; }
    bool objectsIsArray() const { return objectsIsArray_; }
    /// Entries met so far.
    std::uint32_t entryCount() const { return entries_; }

protected:
    enum class Value { Scalar, String, Object, Array };

    /// The role of the value of a top-level key: kKeyChildren for the "objects" to walk, else 0.
    virtual std::uint8_t rootKey(const std::string& key) = 0;
    /// The role of the value of an entry's key: its EntryKey bit, kKeyChildren to walk its
    /// children, 0 to pass it over.
    virtual std::uint8_t entryKey(std::uint32_t entry, const std::string& key) = 0;
    /// Entry `entry` (pre-order) begins: element `place` of the top level (`parent` kTopLevel)
    /// or of `parent`'s children.
    virtual void entryBegins(std::uint32_t entry, std::uint32_t parent, std::uint32_t place, Value kind) = 0;
    /// The value of an entry's key with `role` (not captured): `text` when it is a string.
    virtual void entryValue(std::uint32_t, std::uint8_t, Value, string_t*) {}
    /// Ends an entry that is a JSON object.
    virtual void entryEnds(std::uint32_t) {}
    /// Whether a value of this role is read whole and handed to `captured`.
    virtual bool captures(std::uint8_t) const { return false; }
    virtual void captured(std::uint32_t, const std::string&, Json) {}

private:
    enum class Frame : std::uint8_t { Root, Objects, Entry, Children, Skip };
    struct Open {
        Frame frame;
        std::uint32_t entry = 0;  ///< Entry, Children: the entry
        std::uint32_t count = 0;  ///< Objects, Children: the elements so far
    };
    /// The value being read into a DOM.
    struct Capture {
        Capture() : builder(value) {}
        Json value;
        DomBuilder builder;
        std::size_t depth = 0;
    };

    /// A value where the parser stands: what it means depends on the open frame and the key
    /// before it.
    template <class Event>
    bool value(Value kind, Event&& event, string_t* text = nullptr) {
        const bool container = kind == Value::Object || kind == Value::Array;
        if (capture_) {
            event(capture_->builder);
            if (container) ++capture_->depth;
            else if (capture_->depth == 0) handOver();
            return true;
        }
        const std::uint8_t role = std::exchange(role_, 0);
        Frame opens = Frame::Skip;
        std::uint32_t entry = 0;
        if (stack_.empty()) {
            rootIsObject_ = kind == Value::Object;
            if (rootIsObject_) opens = Frame::Root;
        } else {
            Open& top = stack_.back();
            if (top.frame == Frame::Root && role == kKeyChildren) {
                objectsIsArray_ = kind == Value::Array;
                if (objectsIsArray_) opens = Frame::Objects;
            } else if (top.frame == Frame::Objects || top.frame == Frame::Children) {
                entry = entries_++;
                entryBegins(entry, top.frame == Frame::Children ? top.entry : kTopLevel, top.count++, kind);
                if (kind == Value::Object) opens = Frame::Entry;
            } else if (top.frame == Frame::Entry && role != 0) {
                entry = top.entry;
                if (captures(role)) {
                    capture_.emplace();
                    event(capture_->builder);
                    if (container) ++capture_->depth;
                    else handOver();
                    return true;
                }
                entryValue(entry, role, kind, text);
                if (role == kKeyChildren && kind == Value::Array) opens = Frame::Children;
            }
        }
        if (container) stack_.push_back({opens, entry, 0});
        return true;
    }

    template <class Event>
    bool close(Event&& event) {
        if (capture_) {
            event(capture_->builder);
            if (--capture_->depth == 0) handOver();
            return true;
        }
        if (stack_.back().frame == Frame::Entry) entryEnds(stack_.back().entry);
        stack_.pop_back();
        return true;
    }

    void handOver() {
        Json value = std::move(capture_->value);
        capture_.reset();
        captured(stack_.back().entry, captureKey_, std::move(value));
    }

    std::vector<Open> stack_;
    std::optional<Capture> capture_;
    std::string captureKey_;
    std::uint8_t role_ = 0;
    std::uint32_t entries_ = 0;
    bool rootIsObject_ = false;
    bool objectsIsArray_ = false;
};

/// The first pass: the file's top level and the shape of every object entry, in pre-order.
class ShapeReader final : public SceneWalker {
public:
    std::uint8_t rootGiven() const { return rootGiven_; }
    const std::optional<KeyMistake>& rootMistake() const { return rootMistake_; }
    std::deque<EntryShape>& entries() { return entries_; }
    const std::vector<std::string>& classes() const { return classes_; }
    const std::vector<KeyMistake>& mistakes() const { return mistakes_; }

private:
    std::uint8_t rootKey(const std::string& key) override {
        return noteKey(key, key == "objects" ? 1 : 0, rootGiven_, rootMistake_) ? kKeyChildren : 0;
    }
    std::uint8_t entryKey(std::uint32_t entry, const std::string& key) override {
        EntryShape& shape = entries_[entry];
        std::optional<KeyMistake> mistake;
        const std::uint8_t role = noteKey(key, entryKeyBit(key), shape.given, mistake);
        if (mistake && shape.mistake == EntryShape::kNoMistake) {
            shape.mistake = static_cast<std::uint32_t>(mistakes_.size());
            mistakes_.push_back(std::move(*mistake));
        }
        return role;
    }
    void entryBegins(std::uint32_t, std::uint32_t parent, std::uint32_t place, Value kind) override {
        EntryShape shape;
        shape.parent = parent;
        if (parent != kTopLevel) shape.depth = entries_[parent].depth + 1;
        shape.place = place;
        shape.isObject = kind == Value::Object;
        entries_.push_back(std::move(shape));
    }
    void entryValue(std::uint32_t entry, std::uint8_t role, Value kind, string_t* text) override {
        EntryShape& shape = entries_[entry];
        if (role == kKeyName && kind == Value::String) {
            shape.nameIsString = true;
            shape.name = std::move(*text);
        } else if (role == kKeyClass) {
            shape.classIndex = kind == Value::String ? classIndex(*text) : EntryShape::kClassNotString;
        } else if (role == kKeyChildren) {
            shape.childrenIsArray = kind == Value::Array;
        }
    }

    std::uint32_t classIndex(const std::string& name) {
        const auto [it, added] = classIndexes_.try_emplace(name, static_cast<std::uint32_t>(classes_.size()));
        if (added) classes_.push_back(name);
        return it->second;
    }

    std::uint8_t rootGiven_ = 0;
    std::optional<KeyMistake> rootMistake_;
    std::deque<EntryShape> entries_;
    std::vector<std::string> classes_;
    std::unordered_map<std::string, std::uint32_t> classIndexes_;
    std::vector<KeyMistake> mistakes_;
};

/// Builds a scene from a JSON scene file, and reads edits in the same words.
class JsonSceneBuilder {
public:
    JsonSceneBuilder(Host& host, const std::string& file) : host_(host), file_(file) {}

    /// The objects made, configured but before AfterLoad (see `finishLoad`). `pass` reads the
    /// text from its start, twice.
    std::vector<Handle> build(const TextPass& pass, const TextPrefix& prefix) {
        std::vector<std::uint8_t> edits = createObjects(pass, prefix);
        configureObjects(pass, edits);
        return std::move(made_);
    }

private:
    [[noreturn]] void fail(const std::string& object, const std::string& attribute, const std::string& reason) const {
        throw InputError(file_, object, attribute, reason);
    }

    [[noreturn]] void failKey(const std::string& object, const KeyMistake& mistake,
                              const std::vector<std::string>& known, const std::string& holder) const {
        if (mistake.repeated) fail(object, mistake.key, "the key is given twice");
        fail(object, mistake.key, "unknown key; " + holder + " has the keys " + joinNames(known));
    }

    /// Refuses repeated keys and keys outside `known`; `holder` says whose keys they are.
    void checkKeys(const Json& entry, const std::string& object, const std::vector<std::string>& known,
                   const std::string& holder) const {
        for (const auto& [key, value] : entry.items()) {
            if (!key.empty() && key[0] == kDuplicateMark) failKey(object, {unmarked(key), true}, known, holder);
            if (std::find(known.begin(), known.end(), key) == known.end()) failKey(object, {key, false}, known, holder);
        }
    }

    /// Whether this load made the object: the runtime numbers its objects in order of creation.
    bool madeHere(const Handle& handle) const {
        if (made_.empty()) return false;
        const ULong ref = host_.runtime().lookupRefOf(handle);
        const ULong place = ref - firstRef_;
        return ref != 0 && ref >= firstRef_ && place < made_.size() && made_[place] == handle;
    }

    /// First pass, then every object checked and created in pre-order. Returns the edit keys
    /// each object gives, by its place.
    std::vector<std::uint8_t> createObjects(const TextPass& pass, const TextPrefix& prefix) {
        ShapeReader shape;
        if (!pass(shape)) failParse(shape.error(), shape.errorPosition(), prefix, file_);
        if (!shape.rootIsObject()) fail("", "", "the file must hold a JSON object with the key \"objects\"");
        if (shape.rootMistake()) failKey("", *shape.rootMistake(), {"objects"}, "a scene file");
        if (!(shape.rootGiven() & 1) || !shape.objectsIsArray())
            fail("", "objects", "the file must hold a JSON object whose \"objects\" is an array");

        std::deque<EntryShape>& entries = shape.entries();
        std::vector<std::uint8_t> edits;
        edits.reserve(entries.size());
        made_.reserve(entries.size());
        const auto& factories = host_.factories();
        for (EntryShape& entry : entries) {
            const std::string label =
                entry.parent == kTopLevel
                    ? "objects[" + std::to_string(entry.place) + "]"
                    : host_.nameOf(made_[entry.parent]) + ".children[" + std::to_string(entry.place) + "]";
            if (!entry.isObject) fail(label, "", "an object must be a JSON object");
            if (!(entry.given & kKeyName) || !entry.nameIsString || entry.name.empty())
                fail(label, "name", "every object needs a name (a non-empty string)");
            const std::string& name = entry.name;
            if (entry.mistake != EntryShape::kNoMistake)
                failKey(name, shape.mistakes()[entry.mistake], entryKeyNames(), "an object");
            if (const Handle other = host_.find(name); !other.IsNull())
                fail(name, "name",
                     madeHere(other) ? "the name is used by another object of the file"
                                     : "the name is used by an object the host already has");
            if (entry.depth > kMaxDepth)
                fail(name, "children", "child lists nested deeper than " + std::to_string(kMaxDepth));

            const Handle parent = entry.parent == kTopLevel ? Handle() : made_[entry.parent];
            Handle handle;
            if (entry.classIndex == EntryShape::kClassNotString) fail(name, "class", "the class must be a string");
            if (entry.classIndex != EntryShape::kNoClass) {
                const std::string& className = shape.classes()[entry.classIndex];
                const bool known = std::any_of(factories.begin(), factories.end(),
                                               [&](const FactoryInfo& f) { return f.className == className; });
                if (!known) {
                    std::vector<std::string> classes;
                    for (const FactoryInfo& f : factories) classes.push_back(f.className);
                    fail(name, "class",
                         "unknown class " + quoteName(className) + "; the classes are " + joinNames(classes) +
                             " (leave \"class\" out for a plain object)");
                }
                handle = host_.create(className, std::move(entry.name), parent);
            } else {
                handle = host_.createPlain(std::move(entry.name), {0, 0, 0}, parent);
            }
            if (made_.empty()) firstRef_ = host_.runtime().lookupRefOf(handle);
            made_.push_back(handle);
            edits.push_back(entry.given & kEditKeys);
            if ((entry.given & kKeyChildren) && !entry.childrenIsArray)
                fail(host_.nameOf(handle), "children", "children must be an array of objects");
        }
        return edits;
    }

    /// Second pass: the position, orientation and attributes of every object, set in pre-order
    /// as soon as the object's and those of every object before it have been read. An object
    /// whose values come after its children waits for them (a file that puts every object's
    /// values last is read whole before anything is set).
    class EditReader;
    void configureObjects(const TextPass& pass, const std::vector<std::uint8_t>& edits);

    /// Sets one object's position, orientation and attributes.
    void configure(const Handle& handle, const Json& entry) {
        const std::string& name = host_.nameOf(handle);
        const ObjectEdit edit = readEdit(entry, handle, name);
        if (edit.position || edit.orientation) {
            _CCoordSystem<float> frame;
            if (edit.position) frame.Origin = *edit.position;
            if (edit.orientation) frame.Orientation = *edit.orientation;
            if (!host_.setObjectPos(handle, frame)) fail(name, "ObjectPos", "the object refused its position");
        }
        for (const ObjectEdit::Value& value : edit.attributes)
            if (!host_.setAttribute(handle, value.record, value.bytes))
                fail(name, value.name, "the object refused the value");
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
        const Handle found = host_.find(name);
        if (found.IsNull()) return found;
        if (!editing_) return madeHere(found) ? found : Handle();
        return inScene(host_, found) ? found : Handle();
    }

    Host& host_;
    const std::string& file_;
    std::vector<Handle> made_;  ///< in pre-order
    ULong firstRef_ = 0;        ///< the first one's lookup reference
    bool editing_ = false;
};

/// The second pass: hands each object's "position", "orientation" and "attributes" values,
/// read into a small DOM, to `configure`, in pre-order.
class JsonSceneBuilder::EditReader final : public SceneWalker {
public:
    EditReader(JsonSceneBuilder& builder, const std::vector<std::uint8_t>& edits) : builder_(builder), edits_(edits) {
        drain();
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { changed(); }

    /// Called after the pass: every object must have been configured.
    void finish() {
        drain();
        if (next_ != edits_.size() || entryCount() != edits_.size()) changed();
    }

private:
    /// An entry being read: the edit keys not yet read and the values read.
    struct OpenEntry {
        std::uint32_t entry;
        std::uint8_t pending;
        Json edit;
    };

    [[noreturn]] void changed() const { builder_.fail("", "", "the file changed while it was being read"); }

    std::uint8_t rootKey(const std::string& key) override { return key == "objects" ? kKeyChildren : 0; }
    std::uint8_t entryKey(std::uint32_t, const std::string& key) override {
        const std::uint8_t bit = entryKeyBit(key);
        OpenEntry& open = open_.back();
        if (bit & open.pending) {
            open.pending &= static_cast<std::uint8_t>(~bit);
            return bit;
        }
        return bit == kKeyChildren ? bit : 0;
    }
    void entryBegins(std::uint32_t entry, std::uint32_t, std::uint32_t, Value kind) override {
        if (kind != Value::Object || entry >= edits_.size()) changed();
        open_.push_back({entry, edits_[entry], Json()});
        if (open_.back().pending == 0) complete(open_.back());
    }
    void entryEnds(std::uint32_t) override {
        if (open_.back().pending != 0) changed();
        open_.pop_back();
    }
    bool captures(std::uint8_t role) const override { return (role & kEditKeys) != 0; }
    void captured(std::uint32_t, const std::string& key, Json value) override {
        OpenEntry& open = open_.back();
        if (!open.edit.is_object()) open.edit = Json::object();
        open.edit[key] = std::move(value);
        if (open.pending == 0) complete(open);
    }

    /// Every edit value of an entry is read: it is set now if every entry before it is.
    void complete(OpenEntry& open) {
        if (edits_[open.entry] == 0) return;  // nothing to set; `drain` passes over it
        waiting_.emplace(open.entry, std::move(open.edit));
        open.edit = Json();
        drain();
    }

    void drain() {
        while (next_ < edits_.size()) {
            if (edits_[next_] != 0) {
                const auto it = waiting_.find(next_);
                if (it == waiting_.end()) return;
                builder_.configure(builder_.made_[next_], it->second);
                waiting_.erase(it);
            }
            ++next_;
        }
    }

    JsonSceneBuilder& builder_;
    const std::vector<std::uint8_t>& edits_;
    std::vector<OpenEntry> open_;
    std::size_t next_ = 0;  ///< the first entry not yet configured
    std::map<std::uint32_t, Json> waiting_;
};

void JsonSceneBuilder::configureObjects(const TextPass& pass, const std::vector<std::uint8_t>& edits) {
    EditReader reader(*this, edits);
    if (!pass(reader)) fail("", "", "the file changed while it was being read");
    reader.finish();
}

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
        if (name.empty()) throw InputError("", guidToText(node.object.Guid), "name", "a scene object has no name");
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
        if (!bytes) throw InputError("", name, key, "the object did not give the attribute's value");
        std::optional<std::string> text = attributeJson(host_, record, *bytes);
        if (!text) {
            _GUID target{};
            std::memcpy(&target, bytes->data(), std::min(bytes->size(), sizeof target));
            throw InputError("", name, key, "refers to " + guidToText(target) + ", which is no object of the scene");
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
    throw InputError("", host.nameOf(handle), "class", "no factory makes the class " + quoteName(className));
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
        if (name.empty()) throw InputError("", guidToText(handle.Guid), "name", "a scene object has no name");
        const Descriptor* descriptor = host.descriptor(handle);
        for (const _GUID& guid :
             {scoClassGuid(host, handle), handle.Guid, descriptor ? descriptor->parent().Guid : _GUID{}})
            out.Write(guidBytes(guid).data(), sizeof(GuidBytes));
        out.StoreULong(static_cast<ULong>(name.size()));
        out.Write(name.data(), static_cast<ULong>(name.size()));
        const std::optional<std::vector<std::uint8_t>> record = host.save(handle);
        if (!record) throw InputError("", name, "record", "its Serialize refused to write the record");
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
            if (host_.object(Handle(objectGuid))) fail("GUID", guidToText(objectGuid) + " is used by another object");
            std::size_t depth = 1;
            if (!CGUID(parentGuid).IsNull()) {
                const auto parent = placeOf(parentGuid);
                if (!parent)
                    fail("parent GUID", guidToText(parentGuid) + " is not an object before this one in the file");
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
        throw InputError(file_, label_, field, reason);
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
        for (const FactoryInfo& f : host_.factories()) classes.push_back(f.className + " " + guidToText(f.classGuid));
        classes.push_back("plain objects " + guidToText(kPlainObjectClassGuid));
        fail("class GUID", "unknown class " + guidToText(classGuid) + "; the classes are " + joinNames(classes));
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
                    fail(attributeName(record), "refers to " + guidToText(target) + ", which is no object of the file");
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

/// The objects of a JSON scene held in memory, before AfterLoad.
std::vector<Handle> buildJsonScene(Host& host, std::string_view text, const std::string& file) {
    const TextPass pass = [text](nlohmann::json_sax<Json>& handler) {
        return Json::sax_parse(text.begin(), text.end(), &handler);
    };
    return JsonSceneBuilder(host, file).build(pass, prefixOf(text));
}

/// The objects of a JSON scene file, before AfterLoad: the file is read twice and never held.
std::vector<Handle> buildJsonSceneFile(Host& host, const std::string& path) {
    auto open = [&path] {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw InputError(path, "", "", std::string("cannot open the file: ") + std::strerror(errno));
        return in;
    };
    const TextPass pass = [&](nlohmann::json_sax<Json>& handler) {
        std::ifstream in = open();
        const bool parsed = Json::sax_parse(in, &handler);
        if (in.bad()) throw InputError(path, "", "", std::string("cannot read the file: ") + std::strerror(errno));
        return parsed;
    };
    const TextPrefix prefix = [&](std::size_t position) {
        std::ifstream in = open();
        std::string text(position, '\0');
        in.read(text.data(), static_cast<std::streamsize>(position));
        text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
        return text;
    };
    return JsonSceneBuilder(host, path).build(pass, prefix);
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
    auto fromMemory = [&] {
        return isScoImage(bytes) ? ScoReader(host, bytes, path).read()
                                 : buildJsonScene(host, std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                                                         bytes.size()), path);
    };
    std::vector<Handle> loaded;
    if (path == "-") {
        // Standard input, JSON or .sco by its content like a file; it can be read only once.
        bytes.assign(std::istreambuf_iterator<char>(std::cin.rdbuf()), std::istreambuf_iterator<char>());
        if (std::cin.bad()) throw InputError(path, "", "", "cannot read standard input");
        loaded = fromMemory();
    } else {
        std::error_code error;
        if (std::filesystem::is_directory(path, error))
            throw InputError(path, "", "", "is a directory, not a scene file");
        std::ifstream in(path, std::ios::binary);
        if (!in) throw InputError(path, "", "", std::string("cannot open the file: ") + std::strerror(errno));
        char magic[sizeof kScoMagic] = {};
        in.read(magic, sizeof magic);
        if (in.bad()) throw InputError(path, "", "", std::string("cannot read the file: ") + std::strerror(errno));
        const bool sco = in.gcount() == sizeof magic && std::memcmp(magic, kScoMagic, sizeof magic) == 0;
        if (!sco && std::filesystem::is_regular_file(path, error)) {
            // A JSON file is read where it lies, twice, rather than held with its parse.
            in.close();
            loaded = buildJsonSceneFile(host, path);
        } else {
            // A .sco image is read whole (the reader checks every count against what remains);
            // a pipe or device can be read only once. Sized once when the size is known: grown
            // by doubling, a large scene's bytes would take up to twice their size.
            if (const auto size = std::filesystem::file_size(path, error); !error && size > 0) bytes.reserve(size);
            bytes.assign(magic, magic + in.gcount());
            bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (in.bad()) throw InputError(path, "", "", std::string("cannot read the file: ") + std::strerror(errno));
            loaded = fromMemory();
        }
    }
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
            if (!inScene(host, Handle(target)) || host.nameOf(Handle(target)).empty()) return std::nullopt;
            return jsonString(host.nameOf(Handle(target)));
        }
    }
}

}  // namespace host
