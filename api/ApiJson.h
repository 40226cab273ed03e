#pragma once
// A small JSON value: what the control API reads from request bodies and writes as answers
// and events. Objects keep their members in the order given, because a request applies its
// settings in that order. Free of Qt, so that the request handler is fuzzed and built with the
// core.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dpx::api {

class Json {
public:
    enum class Type { kNull, kBool, kInteger, kNumber, kString, kArray, kObject };

    Json() = default;
    Json(bool value) : type_(Type::kBool), integer_(value ? 1 : 0) {}
    Json(int value) : Json(static_cast<long long>(value)) {}
    Json(long value) : Json(static_cast<long long>(value)) {}
    Json(long long value) : type_(Type::kInteger), integer_(value) {}
    Json(unsigned value) : Json(static_cast<long long>(value)) {}
    Json(std::string value) : type_(Type::kString), text_(std::move(value)) {}
    Json(const char* value) : Json(std::string(value)) {}
    static Json Array() { return Json(Type::kArray); }
    static Json Object() { return Json(Type::kObject); }
    // A number with a fraction or an exponent, or an integer beyond 64 bits: kept as its text.
    static Json Number(std::string text);

    Type type() const { return type_; }
    bool IsNull() const { return type_ == Type::kNull; }
    bool IsInteger() const { return type_ == Type::kInteger; }
    bool IsObject() const { return type_ == Type::kObject; }
    int64_t Integer() const { return integer_; }
    bool Bool() const { return integer_ != 0; }
    const std::string& Text() const { return text_; }
    // The members' names of an object (in order) and the members or array items.
    const std::vector<std::string>& Keys() const { return keys_; }
    const std::vector<Json>& Items() const { return items_; }
    // The member `key` of an object, or nullptr.
    const Json* Find(std::string_view key) const;

    // Appends a member (objects) or an item (arrays); returns *this for chaining.
    Json& Set(std::string key, Json value);
    Json& Push(Json value);

    // The value as compact JSON text.
    std::string Dump() const;
    // What the type is called in messages: "a string", "an integer", ...
    static const char* TypeName(Type type);

private:
    explicit Json(Type type) : type_(type) {}
    void DumpTo(std::string& out) const;

    Type type_ = Type::kNull;
    int64_t integer_ = 0;
    std::string text_;               // a string, or a kNumber's text
    std::vector<std::string> keys_;  // an object's member names
    std::vector<Json> items_;        // an object's members or an array's items
};

// How deep arrays and objects may nest in a request.
inline constexpr int kJsonDepthLimit = 16;

// `text` as one JSON value (RFC 8259), or nullopt with `why` saying what is wrong and where
// ("byte 12: a string must end with \"").
std::optional<Json> ParseJson(std::string_view text, std::string* why);

}  // namespace dpx::api
