#include "scene/JsonSceneReader.h"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <unordered_map>

#include "base/InputError.h"
#include "host/Host.h"
#include "scene/JsonSceneWalker.h"
#include "scene/MistakeWords.h"
#include "scene/ObjectEditJson.h"
#include "scene/SceneTree.h"

// A scene of a million waypoints is a few hundred megabytes of JSON, and a DOM of it several
// times that. The loader holds neither: it reads the text twice. The first pass takes down the
// shape of the objects (names, classes, nesting, the keys each gives), so that every object can
// be checked and created before any reference has to be resolved; the second reads each
// object's position, orientation and attributes, a few values at a time, and sets them. The
// objects are checked, created and configured in the order a DOM walk would take, so the
// mistake reported is the same whichever way the text is read.

namespace host {

namespace {

/// Runs a SAX handler over the whole text from its start; false when the text is no JSON (the
/// handler has the reason).
using TextPass = std::function<bool(nlohmann::json_sax<Json>&)>;

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

/// The first pass: the file's top level and the shape of every object entry, in pre-order.
class ShapeReader final : public SceneWalker {
public:
    std::uint8_t rootGiven() const { return rootGiven_; }
    const std::optional<KeyMistake>& rootMistake() const { return rootMistake_; }
    const Json& level() const { return level_; }
    std::deque<EntryShape>& entries() { return entries_; }
    const std::vector<std::string>& classes() const { return classes_; }
    const std::vector<KeyMistake>& mistakes() const { return mistakes_; }

private:
    std::uint8_t rootKey(const std::string& key) override {
        const std::uint8_t bit = noteKey(key, key == "objects" ? 1 : key == "level" ? 2 : 0, rootGiven_, rootMistake_);
        return bit == 1 ? kKeyChildren : bit == 2 ? kRootLevel : 0;
    }
    bool captures(std::uint8_t role) const override { return role == kRootLevel; }
    void captured(std::uint32_t, const std::string&, Json value) override { level_ = std::move(value); }
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
    Json level_;
    std::deque<EntryShape> entries_;
    std::vector<std::string> classes_;
    std::unordered_map<std::string, std::uint32_t> classIndexes_;
    std::vector<KeyMistake> mistakes_;
};

/// The top-level "level": a file name, or {"file": ..., "scale": s, "position": [x, y, z]}.
SceneLevel levelFromJson(const Json& json, const std::string& file) {
    auto fail = [&](const std::string& key, const std::string& reason) {
        throw InputError(file, "level", key, reason);
    };
    SceneLevel level;
    if (json.is_string()) {
        level.file = json.get<std::string>();
        if (level.file.empty()) fail("", "the level's file name is empty");
        return level;
    }
    if (!json.is_object())
        fail("", "the level is a file name or {\"file\": ..., \"scale\": s, \"position\": [x, y, z]}");
    // Numbers read as floats; one beyond the float's range is kept as a double, and refused.
    auto finite = [](const Json& v) { return v.is_number() && std::isfinite(static_cast<float>(v.get<double>())); };
    for (const auto& [key, value] : json.items()) {
        if (!key.empty() && key[0] == kDuplicateMark) fail(unmarked(key), "the key is given twice");
        if (key == "file") {
            if (!value.is_string() || value.get<std::string>().empty()) fail(key, "the file must be a non-empty string");
            level.file = value.get<std::string>();
        } else if (key == "scale") {
            if (!finite(value) || !(value.get<double>() > 0)) fail(key, "the scale must be a finite number above 0");
            level.scale = static_cast<float>(value.get<double>());
        } else if (key == "position") {
            if (!value.is_array() || value.size() != 3 || !std::all_of(value.begin(), value.end(), finite))
                fail(key, "the position must be three finite numbers [x, y, z]");
            for (std::size_t i = 0; i < 3; ++i) level.position[i] = static_cast<float>(value[i].get<double>());
        } else {
            fail(key, "unknown key; a level has the keys " + joinNames({"file", "position", "scale"}));
        }
    }
    if (level.file.empty()) fail("file", "the level needs a file");
    return level;
}

/// Builds a scene from a JSON scene file.
class JsonSceneBuilder {
public:
    JsonSceneBuilder(Host& host, const std::string& file)
        : host_(host), file_(file), scope_{[this](const std::string& name) { return fileObject(name); }, "file"} {}

    /// The objects made, configured but before AfterLoad, and the level the file names (into
    /// `level` when given). `pass` reads the text from its start, twice.
    std::vector<Handle> build(const TextPass& pass, const TextPrefix& prefix, OptionalLevel* level) {
        std::vector<std::uint8_t> edits = createObjects(pass, prefix);
        configureObjects(pass, edits);
        if (level) *level = std::move(level_);
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

    /// Whether this load made the object: the runtime numbers its objects in order of creation.
    bool madeHere(const Handle& handle) const {
        if (made_.empty()) return false;
        const ULong ref = host_.runtime().lookupRefOf(handle);
        const ULong place = ref - firstRef_;
        return ref != 0 && ref >= firstRef_ && place < made_.size() && made_[place] == handle;
    }

    /// The object of the file a reference names, or null.
    Handle fileObject(const std::string& name) const {
        const Handle found = host_.find(name);
        return !found.IsNull() && madeHere(found) ? found : Handle();
    }

    /// First pass, then every object checked and created in pre-order. Returns the edit keys
    /// each object gives, by its place.
    std::vector<std::uint8_t> createObjects(const TextPass& pass, const TextPrefix& prefix) {
        ShapeReader shape;
        if (!pass(shape)) {
            if (shape.overflow()) {
                const auto [entry, key] = shape.placeInReading();
                if (entry != kTopLevel && shape.entries()[entry].nameIsString)
                    fail(shape.entries()[entry].name, key, kOutOfFloatRange);
            }
            failParse(shape.error(), shape.errorPosition(), prefix, file_);
        }
        if (!shape.rootIsObject()) fail("", "", "the file must hold a JSON object with the key \"objects\"");
        if (shape.rootMistake()) failKey("", *shape.rootMistake(), {"level", "objects"}, "a scene file");
        if (!(shape.rootGiven() & 1) || !shape.objectsIsArray())
            fail("", "objects", "the file must hold a JSON object whose \"objects\" is an array");
        if (shape.rootGiven() & 2) level_ = levelFromJson(shape.level(), file_);

        std::deque<EntryShape>& entries = shape.entries();
        std::vector<std::uint8_t> edits;
        edits.reserve(entries.size());
        made_.reserve(entries.size());
        for (EntryShape& entry : entries) {
            checkEntry(entry, shape);
            const Handle handle = createObject(entry, shape.classes());
            if (made_.empty()) firstRef_ = host_.runtime().lookupRefOf(handle);
            made_.push_back(handle);
            edits.push_back(entry.given & kEditKeys);
            if ((entry.given & kKeyChildren) && !entry.childrenIsArray)
                fail(host_.nameOf(handle), "children", "children must be an array of objects");
        }
        return edits;
    }

    /// An entry's shape, name and nesting, before its object is made.
    void checkEntry(const EntryShape& entry, const ShapeReader& shape) const {
        const std::string label = entry.parent == kTopLevel ? "objects[" + std::to_string(entry.place) + "]"
                                                            : host_.nameOf(made_[entry.parent]) + ".children[" +
                                                                  std::to_string(entry.place) + "]";
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
        if (entry.depth > kMaxSceneDepth)
            fail(name, "children", "child lists nested deeper than " + std::to_string(kMaxSceneDepth));
        if (entry.classIndex == EntryShape::kClassNotString) fail(name, "class", "the class must be a string");
    }

    /// The entry's object, of its class (a plain object without one), in its parent's child list.
    Handle createObject(EntryShape& entry, const std::vector<std::string>& classes) {
        const Handle parent = entry.parent == kTopLevel ? Handle() : made_[entry.parent];
        if (entry.classIndex == EntryShape::kNoClass)
            return host_.createPlain(std::move(entry.name), {0, 0, 0}, parent);
        const std::string& className = classes[entry.classIndex];
        const auto& factories = host_.factories();
        const bool known = std::any_of(factories.begin(), factories.end(),
                                       [&](const FactoryInfo& f) { return f.className == className; });
        if (!known) {
            std::vector<std::string> names;
            for (const FactoryInfo& f : factories) names.push_back(f.className);
            fail(entry.name, "class",
                 "unknown class " + quoteName(className) + "; the classes are " + joinNames(names) +
                     " (leave \"class\" out for a plain object)");
        }
        return host_.create(className, std::move(entry.name), parent);
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
        ObjectEdit edit = objectEditFromJson(host_, entry, handle, name, file_, scope_);
        edit.baseFrame = _CCoordSystem<float>();
        applyObjectEdit(host_, handle, edit, file_);
    }

    Host& host_;
    const std::string& file_;
    const ReferenceScope scope_;
    std::vector<Handle> made_;  ///< in pre-order
    ULong firstRef_ = 0;        ///< the first one's lookup reference
    OptionalLevel level_;
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

}  // namespace

std::vector<Handle> buildJsonScene(Host& host, std::string_view text, const std::string& file, OptionalLevel* level) {
    const TextPass pass = [text](nlohmann::json_sax<Json>& handler) {
        return Json::sax_parse(text.begin(), text.end(), &handler);
    };
    return JsonSceneBuilder(host, file).build(pass, prefixOf(text), level);
}

std::vector<Handle> buildJsonSceneFile(Host& host, const std::string& path, OptionalLevel* level) {
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
    return JsonSceneBuilder(host, path).build(pass, prefix, level);
}

std::vector<Handle> loadJsonScene(Host& host, std::string_view text, const std::string& file, OptionalLevel* level) {
    std::vector<Handle> loaded = buildJsonScene(host, text, file, level);
    for (const Handle& object : loaded) host.afterLoad(object);
    return loaded;
}

}  // namespace host
