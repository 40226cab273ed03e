// The Ember+ codec: BER values, S101 frames and Glow requests. The reference bytes were made by
// node-emberplus 3.0.8 (a consumer and provider used with broadcast gear), so that what a real
// peer sends is read as it means it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ember/Ber.h"
#include "ember/Glow.h"
#include "ember/S101.h"

namespace dpx::ember {
namespace {

std::string Bytes(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char c : bytes) {
        out.push_back(digits[static_cast<uint8_t>(c) >> 4]);
        out.push_back(digits[static_cast<uint8_t>(c) & 15]);
    }
    return out;
}

TEST(EmberBer, IntegersTakeTheFewestOctetsAndReadBack) {
    const struct {
        int64_t value;
        const char* hex;
    } cases[] = {
        {0, "020100"},        {127, "02017f"},          {128, "02020080"},   {-1, "0201ff"},
        {-128, "020180"},     {-129, "0202ff7f"},       {32, "020120"},      {65535, "020300ffff"},
        {INT64_MAX, "02087fffffffffffffff"},             {INT64_MIN, "02088000000000000000"},
    };
    for (const auto& c : cases) {
        Writer w;
        w.Integer(c.value);
        EXPECT_EQ(Hex(w.Bytes()), c.hex) << c.value;
        Reader r(w.Bytes());
        Tlv tlv;
        int64_t back = 0;
        ASSERT_TRUE(r.Next(&tlv));
        ASSERT_TRUE(ReadInteger(tlv, &back));
        EXPECT_EQ(back, c.value);
    }
}

TEST(EmberBer, TextsPathsAndLongLengthsRoundTrip) {
    const std::string text(300, 'x');  // a length of two octets
    const std::vector<uint32_t> path = {1, 127, 128, 70000, UINT32_MAX};
    Writer w;
    w.Begin(Context(3));
    w.Utf8(text);
    w.RelativeOid(path);
    w.Boolean(true);
    w.End();
    Reader r(w.Bytes());
    Tlv outer, t;
    ASSERT_TRUE(r.Next(&outer));
    EXPECT_EQ(outer.tag, Context(3));
    Reader in = r.Enter(outer);
    std::string got_text;
    std::vector<uint32_t> got_path;
    bool flag = false;
    ASSERT_TRUE(in.Next(&t) && ReadUtf8(t, &got_text));
    ASSERT_TRUE(in.Next(&t) && ReadRelativeOid(t, &got_path));
    ASSERT_TRUE(in.Next(&t) && ReadBoolean(t, &flag));
    EXPECT_FALSE(in.Next(&t));
    EXPECT_FALSE(in.Failed());
    EXPECT_EQ(got_text, text);
    EXPECT_EQ(got_path, path);
    EXPECT_TRUE(flag);
}

// Walks every value, entering each constructed one; whether it was all read without a fault.
bool ReadsWhole(std::string_view bytes) {
    std::vector<Reader> stack = {Reader(bytes)};
    while (!stack.empty()) {
        Tlv tlv;
        if (stack.back().Next(&tlv)) {
            if (tlv.constructed) stack.push_back(stack.back().Enter(tlv));
            continue;
        }
        if (stack.back().Failed()) return false;
        stack.pop_back();
    }
    return true;
}

TEST(EmberBer, MalformedValuesAreRefusedWithoutReadingPastTheInput) {
    std::string deep;
    for (int i = 0; i <= kMaxDepth + 1; ++i) deep += Bytes("a080");
    for (int i = 0; i <= kMaxDepth + 1; ++i) deep += Bytes("0000");
    std::string deep_definite = Bytes("0400");
    for (int i = 0; i <= kMaxDepth + 1; ++i) deep_definite = Bytes("a0") + static_cast<char>(deep_definite.size()) + deep_definite;
    const struct {
        const char* name;
        std::string bytes;
        bool good;
    } cases[] = {
        {"definite", Bytes("a003020105"), true},
        {"indefinite, as libember writes", Bytes("a080020105") + Bytes("0000"), true},
        {"a length beyond the input", Bytes("a005020105"), false},
        {"a length of five octets", Bytes("0285000000000100"), false},
        {"an indefinite primitive", Bytes("0280050000"), false},
        {"an indefinite value never ended", Bytes("a080020105"), false},
        {"a tag cut short", Bytes("1f"), false},
        {"a tag number of five octets", Bytes("1f818181810100"), false},
        {"a length cut short", Bytes("0282"), false},
        {"nesting beyond the limit, indefinite", deep, false},
        {"nesting beyond the limit, definite", deep_definite, false},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadsWhole(c.bytes), c.good) << c.name;
}

TEST(EmberS101, FramesAreThoseOfARealPeer) {
    // node-emberplus's frame of a root getDirectory (its 0xFF escaped as FD DF) and keep-alives.
    const std::string glow = Bytes("60106b0ea00c620aa003020120a1030201ff");
    EXPECT_EQ(Hex(EncodeMessage(glow)), "fe000e0001c001021f0260106b0ea00c620aa003020120a1030201fddf948fff");
    EXPECT_EQ(Hex(KeepAliveRequest()), "fe000e010194e4ff");
    EXPECT_EQ(Hex(KeepAliveResponse()), "fe000e0201fddcceff");
}

TEST(EmberS101, MessagesComeBackWholeHoweverTheBytesArrive) {
    std::string big;
    for (int i = 0; i < 3000; ++i) big.push_back(static_cast<char>(i * 7));  // every byte, escapes too
    const std::string stream = KeepAliveRequest() + EncodeMessage(big) + EncodeMessage("") + KeepAliveResponse();
    for (std::size_t chunk : {stream.size(), std::size_t{1}, std::size_t{7}, std::size_t{1024}}) {
        S101Decoder decoder;
        std::vector<S101Decoder::Item> items;
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk)
            ASSERT_TRUE(decoder.Feed(std::string_view(stream).substr(pos, chunk), &items)) << decoder.Error();
        ASSERT_EQ(items.size(), 4u) << chunk;
        EXPECT_EQ(items[0].kind, S101Decoder::Item::Kind::kKeepAliveRequest);
        EXPECT_EQ(items[1].message, big);
        EXPECT_EQ(items[2].kind, S101Decoder::Item::Kind::kMessage);
        EXPECT_EQ(items[2].message, "");
        EXPECT_EQ(items[3].kind, S101Decoder::Item::Kind::kKeepAliveResponse);
    }
    EXPECT_GT(EncodeMessage(big).size(), 3 * 1024u);  // it took several frames
}

TEST(EmberS101, ABrokenStreamIsAnErrorAndNothingMoreIsRead) {
    const std::string good = EncodeMessage(Bytes("60106b0ea00c620aa003020120a1030201ff"));
    std::string bad_crc = good;
    bad_crc[12] ^= 1;
    std::string other_dtd = Bytes("000e0001c002021f02") + "abc";  // DTD 2
    std::string middle = Bytes("000e00010001021f02") + "abc";   // no first frame before it
    const auto frame = [](std::string body) {
        const uint16_t crc = static_cast<uint16_t>(~Crc(body));
        std::string out = "\xFE" + body;
        out.push_back(static_cast<char>(crc & 0xFF));
        out.push_back(static_cast<char>(crc >> 8));
        return out + "\xFF";
    };
    S101Decoder::Limits small;
    small.message = 100;
    const struct {
        const char* name;
        std::string bytes;
        S101Decoder::Limits limits;
    } cases[] = {
        {"bytes outside a frame", "GET / HTTP/1.1\r\n", {}},
        {"a wrong CRC", bad_crc, {}},
        {"an endless frame", "\xFE" + std::string(5000, 'a'), {}},
        {"a message over its limit", EncodeMessage(std::string(500, 'a')), small},
        {"another DTD", frame(other_dtd), {}},
        {"a middle frame without a first", frame(middle), {}},
        {"an unescaped 0xF9", "\xFE\xF9", {}},
        {"a frame inside a frame", "\xFE\x01\xFE", {}},
    };
    for (const auto& c : cases) {
        S101Decoder decoder(c.limits);
        std::vector<S101Decoder::Item> items;
        EXPECT_FALSE(decoder.Feed(c.bytes, &items)) << c.name;
        EXPECT_FALSE(decoder.Error().empty()) << c.name;
        EXPECT_FALSE(decoder.Feed(good, &items)) << c.name;
        EXPECT_TRUE(items.empty()) << c.name;
    }
}

TEST(EmberGlow, RequestsOfARealConsumerAreReadAsMeant) {
    using K = Action::Kind;
    const struct {
        const char* name;
        const char* hex;
        K kind;
        Path path;
        Value value;
        std::vector<Value> arguments;
    } cases[] = {
        {"root getDirectory", "60106b0ea00c620aa003020120a1030201ff", K::kGetDirectory, {}, {}, {}},
        {"getDirectory of nested nodes", "602a6b28a0266324a003020101a21d641ba0196317a003020102a210640ea00c620aa003020120a1030201ff",
         K::kGetDirectory, {1, 2}, {}, {}},
        {"getDirectory of a qualified node", "601e6b1ca01a6a18a0040d020102a210640ea00c620aa003020120a1030201ff", K::kGetDirectory,
         {1, 2}, {}, {}},
        {"a value through nested nodes",
         "60336b31a02f632da003020101a2266424a0226320a003020102a2196417a0156113a003020103a10c310aa20302012aad03020101",
         K::kSetValue, {1, 2, 3}, int64_t{42}, {}},
        {"a boolean to a qualified parameter", "601b6b19a0176915a0050d03010205a10c310aa2030101ffad03020104", K::kSetValue,
         {1, 2, 5}, true, {}},
        {"a text to a qualified parameter", "601d6b1ba0196917a0050d03010206a10e310ca2050c03616263ad03020103", K::kSetValue,
         {1, 2, 6}, std::string("abc"), {}},
        {"invoke with arguments",
         "603c6b3aa0386336a003020101a22f642da02b7329a003020104a2226420a01e621ca003020121a2157613a003020101a10c300aa003020102a0030c0178",
         K::kInvoke, {1, 4}, {}, {int64_t{2}, std::string("x")}},
        {"subscribe", "60326b30a02e632ca003020101a2256423a021631fa003020102a2186416a0146112a003020103a20b6409a0076205a00302011e",
         K::kSubscribe, {1, 2, 3}, {}, {}},
        {"unsubscribe", "60326b30a02e632ca003020101a2256423a021631fa003020102a2186416a0146112a003020103a20b6409a0076205a00302011f",
         K::kUnsubscribe, {1, 2, 3}, {}, {}},
        {"root getDirectory in indefinite lengths", "60806b80a08062 80a003020120 0000 0000 0000 0000", K::kGetDirectory, {}, {}, {}},
    };
    for (const auto& c : cases) {
        std::string hex;
        for (const char* p = c.hex; *p; ++p)
            if (*p != ' ') hex.push_back(*p);
        std::vector<Action> actions;
        std::string why;
        ASSERT_TRUE(DecodeRequest(Bytes(hex), &actions, &why)) << c.name << ": " << why;
        ASSERT_EQ(actions.size(), 1u) << c.name;
        EXPECT_EQ(actions[0].kind, c.kind) << c.name;
        EXPECT_EQ(actions[0].path, c.path) << c.name;
        EXPECT_EQ(actions[0].value, c.value) << c.name;
        EXPECT_EQ(actions[0].arguments, c.arguments) << c.name;
    }
}

TEST(EmberGlow, WhatIsNotAGlowRequestIsRefusedAndUnknownElementsPassedOver) {
    std::vector<Action> actions;
    std::string why;
    EXPECT_FALSE(DecodeRequest(Bytes("0201ff"), &actions, &why));        // no Root
    EXPECT_FALSE(DecodeRequest(Bytes("6005a0"), &actions, &why));        // cut short
    EXPECT_FALSE(DecodeRequest(Bytes("60056b03a00163"), &actions, &why));  // an element without its length
    // A matrix (APPLICATION 13) and a stream collection are not served: nothing to do.
    EXPECT_TRUE(DecodeRequest(Bytes("600b6b09a0076d05a003020101"), &actions, &why)) << why;
    EXPECT_TRUE(DecodeRequest(Bytes("60026600"), &actions, &why)) << why;
    EXPECT_TRUE(actions.empty());
}

TEST(EmberGlow, ElementsAreWrittenAsAConsumerReadsThem) {
    // What this provider writes, read back by the same reader a consumer's values go through.
    Element p;
    p.kind = Element::Kind::kParameter;
    p.path = {1, 2, 5, 13};
    p.qualified = true;
    p.parameter.value = int64_t{1};
    p.parameter.type = ParameterType::kEnum;
    p.parameter.enum_map = {{"ON", 0}, {"OFF", 1}};
    Element node;
    node.kind = Element::Kind::kNode;
    node.path = {1, 2};
    node.qualified = true;
    node.node.identifier = "a";
    node.children = {p};
    node.children[0].qualified = false;
    std::vector<Action> actions;
    std::string why;
    ASSERT_TRUE(DecodeRequest(EncodeElements({p, node}), &actions, &why)) << why;
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_EQ(actions[0].path, (Path{1, 2, 5, 13}));
    EXPECT_EQ(actions[1].path, (Path{1, 2, 13}));  // a plain child below its node
    EXPECT_EQ(actions[1].value, Value(int64_t{1}));
    // An invocation result: Root, then APPLICATION 23 with its id, success and result tuple.
    EXPECT_EQ(Hex(EncodeInvocationResult(7, true, {int64_t{0}, std::string("ok")})),
              "601b7719a003020107a1030101ffa20d300ba003020100a0040c026f6b");
}

}  // namespace
}  // namespace dpx::ember
