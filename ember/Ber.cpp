#include "ember/Ber.h"

namespace dpx::ember {

void Writer::Identifier(Tag tag, bool constructed) {
    // Glow's tags all have numbers below 31: one identifier octet.
    out_.push_back(static_cast<char>(static_cast<uint8_t>(tag.cls) | (constructed ? 0x20 : 0) | (tag.number & 0x1F)));
}

namespace {

std::string Length(std::size_t n) {
    if (n < 0x80) return std::string(1, static_cast<char>(n));
    std::string bytes;
    for (; n != 0; n >>= 8) bytes.insert(bytes.begin(), static_cast<char>(n & 0xFF));
    bytes.insert(bytes.begin(), static_cast<char>(0x80 | bytes.size()));
    return bytes;
}

}  // namespace

void Writer::Primitive(Tag tag, std::string_view content) {
    Identifier(tag, false);
    out_ += Length(content.size());
    out_ += content;
}

void Writer::Begin(Tag tag) {
    Identifier(tag, true);
    open_.push_back(out_.size());
}

void Writer::End() {
    const std::size_t start = open_.back();
    open_.pop_back();
    out_.insert(start, Length(out_.size() - start));
}

void Writer::Integer(int64_t value, Tag tag) {
    std::string bytes;
    // The fewest octets whose two's complement holds the value.
    for (int i = 7; i >= 0; --i) bytes.push_back(static_cast<char>(static_cast<uint64_t>(value) >> (8 * i) & 0xFF));
    std::size_t skip = 0;
    while (skip + 1 < bytes.size()) {
        const auto first = static_cast<uint8_t>(bytes[skip]), next = static_cast<uint8_t>(bytes[skip + 1]);
        if ((first == 0x00 && (next & 0x80) == 0) || (first == 0xFF && (next & 0x80) != 0)) ++skip;
        else break;
    }
    Primitive(tag, std::string_view(bytes).substr(skip));
}

void Writer::Boolean(bool value) { Primitive(Universal(universal::kBoolean), value ? "\xFF" : std::string_view("\0", 1)); }

void Writer::Utf8(std::string_view text) { Primitive(Universal(universal::kUtf8String), text); }

void Writer::RelativeOid(const std::vector<uint32_t>& path) {
    std::string bytes;
    for (uint32_t n : path) {
        std::string sub(1, static_cast<char>(n & 0x7F));
        for (n >>= 7; n != 0; n >>= 7) sub.insert(sub.begin(), static_cast<char>(0x80 | (n & 0x7F)));
        bytes += sub;
    }
    Primitive(Universal(universal::kRelativeOid), bytes);
}

namespace {

struct Header {
    Tag tag;
    bool constructed = false;
    bool indefinite = false;
    std::size_t length = 0;  // the contents' length when definite
};

// The identifier and length octets at `pos`; `pos` moves past them.
bool ReadHeader(std::string_view data, std::size_t& pos, Header* h) {
    if (pos >= data.size()) return false;
    const auto first = static_cast<uint8_t>(data[pos++]);
    h->tag.cls = static_cast<TagClass>(first & 0xC0);
    h->constructed = (first & 0x20) != 0;
    h->tag.number = first & 0x1F;
    if (h->tag.number == 0x1F) {
        h->tag.number = 0;
        for (int i = 0;; ++i) {
            if (pos >= data.size() || i == 4) return false;  // numbers of up to 28 bits
            const auto b = static_cast<uint8_t>(data[pos++]);
            h->tag.number = h->tag.number << 7 | (b & 0x7F);
            if ((b & 0x80) == 0) break;
        }
    }
    if (pos >= data.size()) return false;
    const auto l = static_cast<uint8_t>(data[pos++]);
    h->indefinite = l == 0x80;
    if (h->indefinite) return h->constructed;
    if (l < 0x80) {
        h->length = l;
    } else {
        const int n = l & 0x7F;
        if (n > 4) return false;
        h->length = 0;
        for (int i = 0; i < n; ++i) {
            if (pos >= data.size()) return false;
            h->length = h->length << 8 | static_cast<uint8_t>(data[pos++]);
        }
    }
    return h->length <= data.size() - pos;
}

// Moves `pos` past one whole value; for an indefinite length `content_end` is where its
// end-of-contents octets begin.
bool Skip(std::string_view data, std::size_t& pos, int depth, Header* h, std::size_t* content_end) {
    if (depth > kMaxDepth || !ReadHeader(data, pos, h)) return false;
    if (!h->indefinite) {
        pos += h->length;
        *content_end = pos;
        return true;
    }
    for (;;) {
        if (data.size() - pos >= 2 && data[pos] == 0 && data[pos + 1] == 0) {
            *content_end = pos;
            pos += 2;
            return true;
        }
        Header inner;
        std::size_t ignored = 0;
        if (!Skip(data, pos, depth + 1, &inner, &ignored)) return false;
    }
}

}  // namespace

bool Reader::Next(Tlv* tlv) {
    if (failed_ || pos_ >= data_.size()) return false;
    Header h;
    const std::size_t start = pos_;
    std::size_t end = 0;
    if (!Skip(data_, pos_, depth_, &h, &end)) {
        failed_ = true;
        return false;
    }
    std::size_t header = start;
    ReadHeader(data_, header, &h);
    tlv->tag = h.tag;
    tlv->constructed = h.constructed;
    tlv->content = data_.substr(header, end - header);
    return true;
}

Reader Reader::Enter(const Tlv& tlv) {
    Reader inner(tlv.content, depth_ + 1);
    inner.failed_ = depth_ + 1 > kMaxDepth || !tlv.constructed;
    return inner;
}

bool ReadInteger(const Tlv& tlv, int64_t* value) {
    if (tlv.constructed || tlv.content.empty() || tlv.content.size() > 8) return false;
    uint64_t v = static_cast<int8_t>(tlv.content[0]) < 0 ? ~uint64_t{0} : 0;
    for (char c : tlv.content) v = v << 8 | static_cast<uint8_t>(c);
    *value = static_cast<int64_t>(v);
    return true;
}

bool ReadBoolean(const Tlv& tlv, bool* value) {
    if (tlv.constructed || tlv.content.size() != 1) return false;
    *value = tlv.content[0] != 0;
    return true;
}

bool ReadUtf8(const Tlv& tlv, std::string* text) {
    if (tlv.constructed) return false;
    *text = std::string(tlv.content);
    return true;
}

bool ReadRelativeOid(const Tlv& tlv, std::vector<uint32_t>* path) {
    if (tlv.constructed) return false;
    path->clear();
    uint64_t n = 0;
    bool pending = false;
    for (char c : tlv.content) {
        const auto b = static_cast<uint8_t>(c);
        n = n << 7 | (b & 0x7F);
        if (n > UINT32_MAX) return false;
        pending = (b & 0x80) != 0;
        if (!pending) {
            path->push_back(static_cast<uint32_t>(n));
            n = 0;
        }
    }
    return !pending;
}

}  // namespace dpx::ember
