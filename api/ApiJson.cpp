#include "api/ApiJson.h"

#include <cerrno>
#include <cstdlib>

#include "common/Format.h"

namespace dpx::api {

Json Json::Number(std::string text) {
    Json j(Type::kNumber);
    j.text_ = std::move(text);
    return j;
}

const Json* Json::Find(std::string_view key) const {
    for (std::size_t i = 0; i < keys_.size(); ++i)
        if (keys_[i] == key) return &items_[i];
    return nullptr;
}

Json& Json::Set(std::string key, Json value) {
    keys_.push_back(std::move(key));
    items_.push_back(std::move(value));
    return *this;
}

Json& Json::Push(Json value) {
    items_.push_back(std::move(value));
    return *this;
}

namespace {

// The bytes of the UTF-8 sequence that starts at `at`, or 0 when it is not one (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t Utf8Length(const std::string& s, std::size_t at) {
    const auto byte = [&](std::size_t i) -> unsigned { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; };
    const unsigned c = byte(at);
    std::size_t n = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    else return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return n;
}

// `text` as a JSON string: UTF-8 as it is, a byte that is not UTF-8 as U+FFFD, so that what
// a client sent (a path, a key) comes back as it wrote it and the answer is always UTF-8.
void DumpString(const std::string& text, std::string& out) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            const std::string escaped = JsonString(std::string(1, static_cast<char>(c)));  // quoted
            out.append(escaped, 1, escaped.size() - 2);
            ++i;
        } else if (const std::size_t n = Utf8Length(text, i)) {
            out.append(text, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out += '"';
}

}  // namespace

std::string Json::Dump() const {
    std::string out;
    DumpTo(out);
    return out;
}

void Json::DumpTo(std::string& out) const {
    switch (type_) {
        case Type::kNull: out += "null"; return;
        case Type::kBool: out += integer_ ? "true" : "false"; return;
        case Type::kInteger: out += std::to_string(integer_); return;
        case Type::kNumber: out += text_; return;
        case Type::kString: DumpString(text_, out); return;
        case Type::kArray:
        case Type::kObject:
            out += type_ == Type::kArray ? '[' : '{';
            for (std::size_t i = 0; i < items_.size(); ++i) {
                if (i > 0) out += ',';
                if (type_ == Type::kObject) {
                    DumpString(keys_[i], out);
                    out += ':';
                }
                items_[i].DumpTo(out);
            }
            out += type_ == Type::kArray ? ']' : '}';
            return;
    }
}

const char* Json::TypeName(Type type) {
    switch (type) {
        case Type::kNull: return "null";
        case Type::kBool: return "a boolean";
        case Type::kInteger: return "an integer";
        case Type::kNumber: return "a number with a fraction";
        case Type::kString: return "a string";
        case Type::kArray: return "an array";
        case Type::kObject: return "an object";
    }
    return "";
}

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<Json> Document(std::string* why) {
        std::optional<Json> value = Value(0);
        if (value) {
            Space();
            if (at_ != text_.size()) value = Fail("there is more after the JSON value");
        }
        if (!value && why) *why = Format("byte %zu: %s", at_ + 1, error_.c_str());
        return value;
    }

private:
    std::nullopt_t Fail(const char* what) {
        if (error_.empty()) error_ = what;
        return std::nullopt;
    }
    void Space() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }
    bool Take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }

    std::optional<Json> Value(int depth) {
        Space();
        if (at_ >= text_.size()) return Fail("a value is missing");
        switch (text_[at_]) {
            case '{': return Container(depth, '}');
            case '[': return Container(depth, ']');
            case '"': {
                std::optional<std::string> s = String();
                if (!s) return std::nullopt;
                return Json(std::move(*s));
            }
            case 't': if (Word("true")) return Json(true); break;
            case 'f': if (Word("false")) return Json(false); break;
            case 'n': if (Word("null")) return Json(); break;
            default: return NumberValue();
        }
        return Fail("not a JSON value");
    }

    // An object ('}') or an array (']'), its opening character at the current position.
    std::optional<Json> Container(int depth, char close) {
        if (depth >= kJsonDepthLimit) return Fail("nested too deeply");
        ++at_;
        Json out = close == '}' ? Json::Object() : Json::Array();
        Space();
        if (Take(close)) return out;
        while (true) {
            std::string key;
            if (close == '}') {
                Space();
                if (at_ >= text_.size() || text_[at_] != '"') return Fail("a member name in quotes is missing");
                std::optional<std::string> name = String();
                if (!name) return std::nullopt;
                key = std::move(*name);
                Space();
                if (!Take(':')) return Fail("':' is missing after a member name");
            }
            std::optional<Json> value = Value(depth + 1);
            if (!value) return std::nullopt;
            if (close == '}') out.Set(std::move(key), std::move(*value));
            else out.Push(std::move(*value));
            Space();
            if (Take(close)) return out;
            if (!Take(',')) return Fail(close == '}' ? "',' or '}' is missing" : "',' or ']' is missing");
        }
    }

    std::optional<Json> NumberValue() {
        const std::size_t start = at_;
        Take('-');
        if (Take('0')) {
        } else if (at_ < text_.size() && text_[at_] >= '1' && text_[at_] <= '9') {
            Digits();
        } else {
            return Fail("not a JSON value");
        }
        bool integer = true;
        if (Take('.')) {
            integer = false;
            if (!Digits()) return Fail("digits must follow '.'");
        }
        if (Take('e') || Take('E')) {
            integer = false;
            if (!Take('+')) Take('-');
            if (!Digits()) return Fail("digits must follow the exponent");
        }
        std::string number(text_.substr(start, at_ - start));
        if (integer) {
            errno = 0;
            char* end = nullptr;
            const long long v = std::strtoll(number.c_str(), &end, 10);
            if (errno == 0 && end && *end == '\0') return Json(v);
        }
        return Json::Number(std::move(number));
    }
    bool Digits() {
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
        return at_ > start;
    }

    std::optional<std::string> String() {
        ++at_;  // the opening quote
        std::string out;
        while (true) {
            if (at_ >= text_.size()) return Fail("a string must end with '\"'");
            const unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') return out;
            if (c < 0x20) return Fail("a control character must be escaped in a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size()) return Fail("a string must end with '\"'");
            switch (text_[at_++]) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    std::optional<uint32_t> code = CodePoint();
                    if (!code) return std::nullopt;
                    Utf8(*code, out);
                    break;
                }
                default: return Fail("unknown escape in a string");
            }
        }
    }
    std::optional<uint32_t> Hex4() {
        if (at_ + 4 > text_.size()) return Fail("\\u needs four hex digits");
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return Fail("\\u needs four hex digits");
            v = v << 4 | static_cast<uint32_t>(d);
        }
        return v;
    }
    // After "\u": one code point, a surrogate pair taken together.
    std::optional<uint32_t> CodePoint() {
        std::optional<uint32_t> high = Hex4();
        if (!high) return std::nullopt;
        if (*high >= 0xDC00 && *high <= 0xDFFF) return Fail("a lone low surrogate in a string");
        if (*high < 0xD800 || *high > 0xDBFF) return high;
        if (!Word("\\u")) return Fail("a high surrogate without its low one");
        std::optional<uint32_t> low = Hex4();
        if (!low) return std::nullopt;
        if (*low < 0xDC00 || *low > 0xDFFF) return Fail("a high surrogate without its low one");
        return 0x10000 + ((*high - 0xD800) << 10) + (*low - 0xDC00);
    }
    static void Utf8(uint32_t c, std::string& out) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::string error_;
};

}  // namespace

std::optional<Json> ParseJson(std::string_view text, std::string* why) { return Parser(text).Document(why); }

}  // namespace dpx::api
