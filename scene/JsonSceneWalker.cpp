#include "scene/JsonSceneWalker.h"

namespace host {

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
    static const std::vector<std::string> names = {"name",        "class",      "position",
                                                   "orientation", "attributes", "children"};
    return names;
}

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

bool SceneWalker::key(string_t& key) {
    if (capture_) return capture_->builder.key(key);
    const Open& top = stack_.back();
    (top.frame == Frame::Entry ? entryKey_ : innerKey_) = key;
    role_ = top.frame == Frame::Root ? rootKey(key) : top.frame == Frame::Entry ? entryKey(top.entry, key) : 0;
    if ((top.frame == Frame::Entry || top.frame == Frame::Root) && captures(role_)) captureKey_ = key;
    return true;
}

SceneWalker::Open SceneWalker::walk(Value kind, std::uint8_t role, string_t* text) {
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
            entryValue(entry, role, kind, text);
            if (role == kKeyChildren && kind == Value::Array) opens = Frame::Children;
        }
    }
    return {opens, entry, 0};
}

std::pair<std::uint32_t, std::string> SceneWalker::placeInReading() const {
    for (auto open = stack_.rbegin(); open != stack_.rend(); ++open) {
        if (open->frame != Frame::Entry) continue;
        if (capture_) return {open->entry, captureKey_ == "attributes" ? capture_->builder.keyInReading() : captureKey_};
        return {open->entry, entryKey_ == "attributes" && open != stack_.rbegin() ? innerKey_ : entryKey_};
    }
    return {kTopLevel, {}};
}

void SceneWalker::handOver() {
    Json value = std::move(capture_->value);
    capture_.reset();
    const Open& top = stack_.back();
    captured(top.frame == Frame::Entry ? top.entry : kTopLevel, captureKey_, std::move(value));
}

}  // namespace host
