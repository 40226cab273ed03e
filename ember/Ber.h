#pragma once
// The subset of BER (ITU-T X.690) the Glow messages of Ember+ use: tags with numbers below 31
// written, any tag read; definite lengths written, definite and indefinite lengths read;
// INTEGER, BOOLEAN, UTF8String and RELATIVE-OID. The reader never reads past its input and
// refuses nesting deeper than kMaxDepth, so that a consumer's message cannot exhaust the stack.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dpx::ember {

enum class TagClass : uint8_t { kUniversal = 0x00, kApplication = 0x40, kContext = 0x80, kPrivate = 0xC0 };

struct Tag {
    TagClass cls = TagClass::kUniversal;
    uint32_t number = 0;
    bool operator==(const Tag&) const = default;
};
constexpr Tag Universal(uint32_t n) { return {TagClass::kUniversal, n}; }
constexpr Tag Application(uint32_t n) { return {TagClass::kApplication, n}; }
constexpr Tag Context(uint32_t n) { return {TagClass::kContext, n}; }

namespace universal {
inline constexpr uint32_t kBoolean = 1;
inline constexpr uint32_t kInteger = 2;
inline constexpr uint32_t kOctetString = 4;
inline constexpr uint32_t kReal = 9;
inline constexpr uint32_t kUtf8String = 12;
inline constexpr uint32_t kRelativeOid = 13;
inline constexpr uint32_t kSequence = 16;
inline constexpr uint32_t kSet = 17;
}  // namespace universal

// How deep constructed values may nest in what is read.
inline constexpr int kMaxDepth = 48;

// Writes one value after the other; Begin()/End() enclose a constructed value, whose length is
// written once it is complete.
class Writer {
public:
    void Begin(Tag tag);
    void End();
    void Integer(int64_t value, Tag tag = Universal(universal::kInteger));
    void Boolean(bool value);
    void Utf8(std::string_view text);
    void RelativeOid(const std::vector<uint32_t>& path);
    // The bytes written; every Begin() must have had its End().
    const std::string& Bytes() const { return out_; }

private:
    void Identifier(Tag tag, bool constructed);
    void Primitive(Tag tag, std::string_view content);
    std::string out_;
    std::vector<std::size_t> open_;
};

// One value read: its tag, whether it is constructed, and its contents (without the
// end-of-contents octets of an indefinite length).
struct Tlv {
    Tag tag;
    bool constructed = false;
    std::string_view content;
};

// Reads the values of one level, one after the other. A malformed value (a length beyond the
// input, a tag or length too long, an indefinite length on a primitive value, nesting beyond
// kMaxDepth) makes Next() false and Failed() true.
class Reader {
public:
    explicit Reader(std::string_view data, int depth = 0) : data_(data), depth_(depth) {}
    // The next value; false at the end or on a malformed one.
    bool Next(Tlv* tlv);
    bool Failed() const { return failed_; }
    // A reader of a constructed value's contents, one level deeper.
    Reader Enter(const Tlv& tlv);
    int Depth() const { return depth_; }

private:
    std::string_view data_;
    std::size_t pos_ = 0;
    int depth_;
    bool failed_ = false;
};

// The contents of a primitive value as each type; false when it is not one.
bool ReadInteger(const Tlv& tlv, int64_t* value);
bool ReadBoolean(const Tlv& tlv, bool* value);
bool ReadUtf8(const Tlv& tlv, std::string* text);
bool ReadRelativeOid(const Tlv& tlv, std::vector<uint32_t>* path);

}  // namespace dpx::ember
