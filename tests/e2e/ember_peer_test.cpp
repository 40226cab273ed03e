// The Ember+ decoder on a real peer's bytes: node-emberplus's own consumer and provider talk
// (tests/ember/peer_frames.js), and what each sent is read here by this program's S101, BER and
// Glow readers. Skipped where Node.js or node-emberplus is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "ember/Glow.h"
#include "ember/S101.h"

namespace dpx::ember {
namespace {

std::string Bytes(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<std::string> Messages(const std::string& stream) {
    S101Decoder decoder;
    std::vector<S101Decoder::Item> items;
    EXPECT_TRUE(decoder.Feed(stream, &items)) << decoder.Error();
    std::vector<std::string> messages;
    for (auto& item : items)
        if (item.kind == S101Decoder::Item::Kind::kMessage) messages.push_back(std::move(item.message));
    return messages;
}

// Every element of a message with its whole path, children included; a later one replaces an
// earlier one's contents.
void Flatten(const std::vector<Element>& elements, std::map<Path, Element>* all) {
    for (const Element& e : elements) {
        Element& kept = (*all)[e.path];
        if (e.has_contents || kept.path.empty()) {
            std::vector<Element> children = std::move(kept.children);
            kept = e;
            kept.children = std::move(children);
        }
        Flatten(e.children, all);
    }
}

class EmberPeer : public testing::Test {
protected:
    void SetUp() override {
        const std::filesystem::path folder = std::filesystem::path(DPX20_SOURCE_DIR) / "tests" / "ember";
        if (!std::filesystem::exists(folder / "node_modules" / "node-emberplus") || std::system("node --version >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "Node.js and node-emberplus (npm ci --prefix tests/ember) are not installed";
        const std::string command = "cd '" + folder.string() + "' && node peer_frames.js";
        FILE* out = popen(command.c_str(), "r");
        ASSERT_NE(out, nullptr);
        std::string text;
        char buffer[65536];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, out)) text.append(buffer, n);
        ASSERT_EQ(pclose(out), 0) << text;
        const std::size_t line = text.find('\n');
        ASSERT_NE(line, std::string::npos);
        sent_ = Bytes(text.substr(0, line));
        received_ = Bytes(text.substr(line + 1));
    }
    std::string sent_, received_;
};

TEST_F(EmberPeer, AConsumersRequestsAreReadAsItMeantThem) {
    std::vector<Action> actions;
    for (const std::string& message : Messages(sent_)) {
        std::string why;
        ASSERT_TRUE(DecodeRequest(message, &actions, &why)) << why;
    }
    const auto has = [&](Action::Kind kind, const Path& path) {
        for (const Action& a : actions)
            if (a.kind == kind && a.path == path) return &a;
        return static_cast<const Action*>(nullptr);
    };
    EXPECT_TRUE(has(Action::Kind::kGetDirectory, {}));
    EXPECT_TRUE(has(Action::Kind::kGetDirectory, {0}));
    EXPECT_TRUE(has(Action::Kind::kGetDirectory, {0, 4}));
    const Action* set = has(Action::Kind::kSetValue, {0, 0});
    ASSERT_TRUE(set);
    EXPECT_EQ(set->value, Value(int64_t{-3}));
    const Action* invoke = has(Action::Kind::kInvoke, {0, 5});
    ASSERT_TRUE(invoke);
    EXPECT_EQ(invoke->arguments, (std::vector<Value>{int64_t{2}, int64_t{40}}));
}

TEST_F(EmberPeer, AProvidersTreeIsReadWithItsContents) {
    const std::vector<std::string> messages = Messages(received_);
    std::size_t frames = 0;
    for (char c : received_) frames += c == '\xFE';
    EXPECT_GT(frames, messages.size());  // some message took several frames
    std::map<Path, Element> all;
    std::optional<InvocationResult> result;
    for (const std::string& message : messages) {
        std::vector<Element> elements;
        std::string why;
        ASSERT_TRUE(DecodeElements(message, &elements, &result, &why)) << why;
        Flatten(elements, &all);
    }
    using K = Element::Kind;
    const struct {
        Path path;
        K kind;
        const char* identifier;
        Value value;
    } rows[] = {
        {{0}, K::kNode, "peer", {}},
        {{0, 0}, K::kParameter, "gain", int64_t{-3}},  // as set
        {{0, 1}, K::kParameter, "label", std::string("Studio \xC3\x84 \xE2\x9C\x93")},
        {{0, 2}, K::kParameter, "mute", true},
        {{0, 3}, K::kParameter, "mode", int64_t{2}},
        {{0, 4}, K::kNode, "many", {}},
        {{0, 4, 39}, K::kParameter, "p39", int64_t{39000}},
        {{0, 5}, K::kFunction, "add", {}},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(all.count(row.path)) << PathText(row.path);
        const Element& e = all.at(row.path);
        EXPECT_EQ(e.kind, row.kind) << PathText(row.path);
        const auto& identifier = row.kind == K::kNode ? e.node.identifier : row.kind == K::kFunction ? e.function.identifier : e.parameter.identifier;
        EXPECT_EQ(identifier.value_or(""), row.identifier) << PathText(row.path);
        if (row.kind == K::kParameter) {
            EXPECT_EQ(e.parameter.value, row.value) << PathText(row.path);
        }
    }
    const ParameterContents& gain = all.at({0, 0}).parameter;
    EXPECT_EQ(gain.minimum, -60);
    EXPECT_EQ(gain.maximum, 6);
    EXPECT_EQ(gain.access, Access::kReadWrite);
    EXPECT_EQ(all.at({0, 3}).parameter.enumeration, "A\nB\nC");
    EXPECT_EQ(all.at({0}).node.description, "A provider made by node-emberplus");
    const FunctionContents& add = all.at({0, 5}).function;
    ASSERT_EQ(add.arguments.size(), 2u);
    EXPECT_EQ(add.arguments[1].name, "b");
    ASSERT_EQ(add.result.size(), 1u);
    EXPECT_EQ(add.result[0].type, ParameterType::kInteger);
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->success);
    EXPECT_EQ(result->result, std::vector<Value>{int64_t{42}});
}

}  // namespace
}  // namespace dpx::ember
