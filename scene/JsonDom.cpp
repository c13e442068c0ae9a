#include "scene/JsonDom.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "base/InputError.h"
#include "scene/MistakeWords.h"

namespace host {

std::string unmarked(const std::string& key) {
    const std::size_t start = key.find_first_not_of(kDuplicateMark);
    return start == std::string::npos ? std::string() : key.substr(start);
}

bool SaxReader::parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& ex) {
    errorPosition_ = position;
    error_ = ex.what();
    // 406: a number a double cannot hold. Named by its start: it may have a million digits.
    if (ex.id == 406) {
        overflow_ = true;
        error_ = std::string(kOutOfFloatRange) + " (" +
                 (token.size() <= 24 ? token : token.substr(0, 16) + "..., " + std::to_string(token.size()) + " characters") +
                 ")";
    }
    return false;
}

std::string DomBuilder::keyInReading() const {
    std::vector<std::string> keys(keys_.begin(), keys_.end());
    if (!stack_.empty() && stack_.back()->is_object()) keys.push_back(key_);
    const auto attributes = std::find(keys.begin(), keys.end(), "attributes");
    if (attributes != keys.end() && attributes + 1 != keys.end()) return unmarked(attributes[1]);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        if (!key->empty()) return unmarked(*key);
    return {};
}

bool DomBuilder::number_float(number_float_t value, const string_t& text) {
    float f = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), f);
    // Out of the float's range: keep the double; the conversion reports it.
    return put(ec == std::errc() && end == text.data() + text.size() ? static_cast<double>(f) : value);
}

bool DomBuilder::key(string_t& value) {
    // One mark is enough: a further repeat overwrites the marked slot, and the checks only need
    // to see that there was a repeat. (Marking every repeat anew would make each key search an
    // ever longer object.)
    key_ = value;
    if (stack_.back()->contains(key_)) key_.insert(0, 1, kDuplicateMark);
    return true;
}

Json* DomBuilder::place(Json value) {
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

TextPrefix prefixOf(std::string_view text) {
    return [text](std::size_t position) { return std::string(text.substr(0, std::min(position, text.size()))); };
}

void failParse(std::string reason, std::size_t position, const TextPrefix& prefix, const std::string& file) {
    // nlohmann's reason reads "[json.exception.parse_error.101] parse error at line 3, column 5:
    // syntax error ...": what follows "parse error" is kept. Reasons without a place (a number
    // out of range) get one from the error's byte position.
    const std::size_t at = reason.find("parse error ");
    if (at != std::string::npos && reason.compare(at + 12, 8, "at line ") == 0) {
        reason = "malformed JSON " + reason.substr(at + 12);
    } else {
        const std::string before = prefix(position);
        const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
        const std::size_t lineStart = before.rfind('\n');
        const std::size_t column = before.size() - (lineStart == std::string::npos ? 0 : lineStart + 1) + 1;
        // A number out of range is no malformed JSON: it is said in the words of every other.
        const bool overflow = reason.starts_with(kOutOfFloatRange);
        reason = std::string(overflow ? "" : "malformed JSON ") + "at line " + std::to_string(line) + ", column " +
                 std::to_string(column) + ": " + (at == std::string::npos ? reason : reason.substr(at + 12));
    }
    throw InputError(file, "", "", reason);
}

Json parseJson(std::string_view text, const std::string& file, const std::string& object) {
    Json root;
    DomBuilder builder(root);
    if (Json::sax_parse(text.begin(), text.end(), &builder)) return root;
    if (builder.overflow() && !object.empty()) throw InputError(file, object, builder.keyInReading(), kOutOfFloatRange);
    failParse(builder.error(), builder.errorPosition(), prefixOf(text), file);
}

bool isUtf8(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

}  // namespace host
