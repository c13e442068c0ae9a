#pragma once
// Private to scene/ (never included from outside it): nlohmann-json stays behind scene/'s public
// headers.
//
// The DOM a scene's JSON is read into. nlohmann's own DOM parser would hand us numbers as doubles
// and keep only the last of two equal keys. This builder keeps the float that the number's text
// denotes (as a double that converts back to that float exactly, so no second rounding happens)
// and marks repeated keys.

#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace host {

using Json = nlohmann::ordered_json;

/// Prefixed to a key that an object gives a second time, so that the checks can name it.
inline constexpr char kDuplicateMark = '\x01';

/// A key without the marks of a repeat.
std::string unmarked(const std::string& key);

/// A SAX handler that keeps why and where the text stopped being JSON.
class SaxReader : public nlohmann::json_sax<Json> {
public:
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override;
    const std::string& error() const { return error_; }
    std::size_t errorPosition() const { return errorPosition_; }
    /// True when the text stopped at a number beyond a double's range (the parser cannot go on
    /// past one); `error()` then says so in the words of every other number beyond a float's.
    bool overflow() const { return overflow_; }

private:
    bool overflow_ = false;
    std::string error_;
    std::size_t errorPosition_ = 0;
};

/// Builds the DOM of the text it is handed, floats kept and repeats marked.
class DomBuilder final : public SaxReader {
public:
    explicit DomBuilder(Json& root) : root_(root) {}

    /// The key the value being read when the text stopped belongs to: an attribute's name inside
    /// "attributes", else the innermost key ("position", "orientation"); empty at the top.
    std::string keyInReading() const;

    bool null() override { return put(nullptr); }
    bool boolean(bool value) override { return put(value); }
    bool number_integer(number_integer_t value) override { return put(value); }
    bool number_unsigned(number_unsigned_t value) override { return put(value); }
    bool number_float(number_float_t value, const string_t& text) override;
    bool string(string_t& value) override { return put(value); }
    bool binary(binary_t& value) override { return put(Json::binary(value)); }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool key(string_t& value) override;
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }

private:
    /// Stores `value` where the parser stands; returns where it went.
    Json* place(Json value);
    bool put(Json value) {
        place(std::move(value));
        return true;
    }
    bool open(Json container) {
        const bool inObject = !stack_.empty() && stack_.back()->is_object();
        stack_.push_back(place(std::move(container)));
        keys_.push_back(inObject ? key_ : std::string());
        return true;
    }
    bool close() {
        stack_.pop_back();
        keys_.pop_back();
        return true;
    }

    Json& root_;
    std::vector<Json*> stack_;
    std::vector<std::string> keys_;  ///< the key each open container was placed under
    std::string key_;
};

/// The text of a JSON scene from its start up to a byte position, for placing an error.
using TextPrefix = std::function<std::string(std::size_t)>;
TextPrefix prefixOf(std::string_view text);

/// Throws the InputError for a text that is no JSON, from the parser's reason and byte position.
[[noreturn]] void failParse(std::string reason, std::size_t position, const TextPrefix& prefix,
                            const std::string& file);

/// The DOM of `text`; throws InputError naming `file` when it is no JSON.
/// `object` names the object the text is an edit of, for a number out of range.
Json parseJson(std::string_view text, const std::string& file, const std::string& object = {});

/// Whether `text` is valid UTF-8 (what a JSON string can hold).
bool isUtf8(const std::string& text);

}  // namespace host
