#pragma once
// Private to scene/ (it holds nlohmann-json): the walk both passes of the JSON loader take over a
// scene's text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scene/JsonDom.h"

namespace host {

/// Keys of an object entry, as bits.
enum EntryKey : std::uint8_t {
    kKeyName = 1,
    kKeyClass = 2,
    kKeyPosition = 4,
    kKeyOrientation = 8,
    kKeyAttributes = 16,
    kKeyChildren = 32,
};
inline constexpr std::uint8_t kEditKeys = kKeyPosition | kKeyOrientation | kKeyAttributes;
/// The role of the top level's "level": read whole, like an entry's values.
inline constexpr std::uint8_t kRootLevel = 64;

/// The bit of an entry's key; 0 for a key an entry cannot have.
std::uint8_t entryKeyBit(std::string_view key);
/// The keys an entry can have, in the order the mistakes list them.
const std::vector<std::string>& entryKeyNames();

/// The first key of an object that is not allowed: a repeat, or one the object cannot have. A
/// DOM lists an object's keys in the order they first appear, a repeat where it first repeats,
/// so the first such event in the text is the one a DOM walk meets first.
struct KeyMistake {
    std::string key;
    bool repeated = false;
};

/// Notes a key of an object whose known keys so far are `given`; the first mistake goes to
/// `mistake`. Returns the key's bit when this is its first appearance, 0 otherwise.
std::uint8_t noteKey(const std::string& key, std::uint8_t bit, std::uint8_t& given, std::optional<KeyMistake>& mistake);

/// The parent of a top-level entry.
inline constexpr std::uint32_t kTopLevel = 0xFFFFFFFF;

/// Follows a JSON scene's structure through the SAX events: the top-level object, its
/// "objects", every object entry in pre-order, and their "children". What the keys of the top
/// level and of an entry mean is the pass's own; a value a pass captures is read whole into a
/// DOM and handed over.
class SceneWalker : public SaxReader {
public:
    bool null() override {
        return value(Value::Scalar, [](DomBuilder& b) { return b.null(); });
    }
    bool boolean(bool v) override {
        return value(Value::Scalar, [&](DomBuilder& b) { return b.boolean(v); });
    }
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
        return value(
            Value::String, [&](DomBuilder& b) { return b.string(v); }, &v);
    }
    bool binary(binary_t& v) override {
        return value(Value::Scalar, [&](DomBuilder& b) { return b.binary(v); });
    }
    bool start_object(std::size_t n) override {
        return value(Value::Object, [&](DomBuilder& b) { return b.start_object(n); });
    }
    bool start_array(std::size_t n) override {
        return value(Value::Array, [&](DomBuilder& b) { return b.start_array(n); });
    }
    bool end_object() override {
        return close([](DomBuilder& b) { return b.end_object(); });
    }
    bool end_array() override {
        return close([](DomBuilder& b) { return b.end_array(); });
    }
    bool key(string_t& key) override;

    bool rootIsObject() const { return rootIsObject_; }
    bool objectsIsArray() const { return objectsIsArray_; }
    /// Entries met so far.
    std::uint32_t entryCount() const { return entries_; }
    /// Where the text stopped: the innermost entry (kTopLevel outside any) and the key of it the
    /// value belongs to ("position", or an attribute's name inside "attributes").
    std::pair<std::uint32_t, std::string> placeInReading() const;

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
    /// Whether a value of this role (of an entry's key, or of a top-level key) is read whole and
    /// handed to `captured`, with its entry (kTopLevel for a top-level key).
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
            if (container)
                ++capture_->depth;
            else if (capture_->depth == 0)
                handOver();
            return true;
        }
        const std::uint8_t role = std::exchange(role_, 0);
        if (!stack_.empty() && (stack_.back().frame == Frame::Entry || stack_.back().frame == Frame::Root) &&
            role != 0 && captures(role)) {
            capture_.emplace();
            event(capture_->builder);
            if (container)
                ++capture_->depth;
            else
                handOver();
            return true;
        }
        Open opened = walk(kind, role, text);
        if (container) stack_.push_back(opened);
        return true;
    }

    /// A value outside any capture: the frame it opens when it is a container.
    Open walk(Value kind, std::uint8_t role, string_t* text);

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

    void handOver();

    std::vector<Open> stack_;
    std::string entryKey_;  ///< the last key of an entry
    std::string innerKey_;  ///< the last key inside an entry's value
    std::optional<Capture> capture_;
    std::string captureKey_;
    std::uint8_t role_ = 0;
    std::uint32_t entries_ = 0;
    bool rootIsObject_ = false;
    bool objectsIsArray_ = false;
};

}  // namespace host
