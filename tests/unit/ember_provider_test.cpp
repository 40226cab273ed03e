// The Ember+ provider's core between consumers and an endpoint: which request each set and
// invocation becomes, who is told of an event, and that an answer comes before what it caused.
// The endpoint records requests and sends events when told to, so that their timing is the
// test's; the real endpoint under real consumers is tests/ember/.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ember/Ber.h"
#include "ember/Provider.h"

namespace dpx::ember {
namespace {

using api::Json;

class RecordingEndpoint final : public api::Endpoint {
public:
    void SetAccess(api::Access) override {}
    void SetPost(Session::Post) override {}
    void Handle(const api::Request& request, Reply reply) override {
        requests.push_back(request);
        if (during) during();
        if (defer) held.push_back(std::move(reply));
        else reply(answer);
    }
    // Answers the requests held back, as a box's thread does once their operations ended.
    void Release() {
        std::vector<Reply> replies = std::move(held);
        held.clear();
        for (Reply& reply : replies) reply(answer);
    }
    Json State() const override { return state; }
    void Emit(const Json& event) { on_event(event.Dump()); }

    std::vector<api::Request> requests;
    api::Response answer{200, R"({"ok":true,"error":null,"result":0})", {}, {}};
    std::function<void()> during;
    bool defer = false;  // hold the replies back until Release()
    std::vector<Reply> held;
    Json state;
};

Json BoxState(const char* name) {
    Json settings = Json::Object();
    settings.Set("sys_beep", Json::Object().Set("value", 0));
    Json s = Json::Object();
    if (name) s.Set("box", name);
    return s.Set("connected", true).Set("device", "/dev/x").Set("settings", std::move(settings));
}

// What a consumer received: each message, as elements' values (path -> value) or an
// invocation's success.
struct Received {
    std::vector<std::map<Path, Value>> values;
    std::vector<bool> invocations;  // in order
    std::vector<char> order;        // 'v' a message of values, 'i' an invocation result
};

class Consumers {
public:
    explicit Consumers(Provider& provider) : provider_(provider) {
        provider.send = [this](int id, const std::string& bytes) { Take(id, bytes); };
        provider.close = [this](int id, const std::string&) { closed.push_back(id); };
    }
    void Add(int id) { provider_.Add(id); }
    void Ask(int id, const std::string& glow) { provider_.Receive(id, EncodeMessage(glow)); }
    std::map<int, Received> got;
    std::vector<int> closed;

private:
    void Take(int id, const std::string& bytes) {
        std::vector<S101Decoder::Item> items;
        ASSERT_TRUE(decoders_[id].Feed(bytes, &items));
        for (const auto& item : items) {
            if (item.kind != S101Decoder::Item::Kind::kMessage) continue;
            Reader r(item.message);
            Tlv root, inner;
            ASSERT_TRUE(r.Next(&root));
            Reader in = r.Enter(root);
            ASSERT_TRUE(in.Next(&inner));
            if (inner.tag == Application(23)) {
                Reader fields = in.Enter(inner);
                Tlv f, v;
                bool ok = false;
                while (fields.Next(&f))
                    if (f.tag == Context(1) && fields.Enter(f).Next(&v)) ReadBoolean(v, &ok);
                got[id].invocations.push_back(ok);
                got[id].order.push_back('i');
                continue;
            }
            std::vector<Action> actions;
            std::string why;
            ASSERT_TRUE(DecodeRequest(item.message, &actions, &why)) << why;
            std::map<Path, Value> values;
            for (const Action& a : actions) values[a.path] = a.value;
            got[id].values.push_back(values);
            got[id].order.push_back('v');
        }
    }
    Provider& provider_;
    std::map<int, S101Decoder> decoders_;
};

// A consumer's messages, written as one would: plain nodes down to the element.
std::string Command(const Path& path, int64_t number) {
    Writer w;
    w.Begin(Application(0));
    w.Begin(Application(11));
    w.Begin(Context(0));
    for (uint32_t n : path) {
        w.Begin(Application(3));
        w.Begin(Context(0));
        w.Integer(n);
        w.End();
        w.Begin(Context(2));
        w.Begin(Application(4));
        w.Begin(Context(0));
    }
    w.Begin(Application(2));
    w.Begin(Context(0));
    w.Integer(number);
    w.End();
    w.End();
    for (std::size_t i = 0; i < path.size(); ++i) {
        w.End();
        w.End();
        w.End();
        w.End();
    }
    w.End();
    w.End();
    w.End();
    return w.Bytes();
}

std::string SetValue(const Path& path, const Value& value) {
    Writer w;
    w.Begin(Application(0));
    w.Begin(Application(11));
    w.Begin(Context(0));
    w.Begin(Application(9));
    w.Begin(Context(0));
    w.RelativeOid(path);
    w.End();
    w.Begin(Context(1));
    w.Begin(Universal(universal::kSet));
    w.Begin(Context(2));
    if (const auto* i = std::get_if<int64_t>(&value)) w.Integer(*i);
    else if (const auto* b = std::get_if<bool>(&value)) w.Boolean(*b);
    else w.Utf8(std::get<std::string>(value));
    for (int i = 0; i < 7; ++i) w.End();
    return w.Bytes();
}

std::string Invoke(const Path& path, const std::vector<int64_t>& arguments) {
    Writer w;
    w.Begin(Application(0));
    w.Begin(Application(11));
    w.Begin(Context(0));
    w.Begin(Application(20));
    w.Begin(Context(0));
    w.RelativeOid(path);
    w.End();
    w.Begin(Context(2));
    w.Begin(Application(4));
    w.Begin(Context(0));
    w.Begin(Application(2));
    w.Begin(Context(0));
    w.Integer(33);
    w.End();
    w.Begin(Context(2));
    w.Begin(Application(22));
    w.Begin(Context(0));
    w.Integer(5);
    w.End();
    w.Begin(Context(1));
    w.Begin(Universal(universal::kSequence));
    for (int64_t a : arguments) {
        w.Begin(Context(0));
        w.Integer(a);
        w.End();
    }
    for (int i = 0; i < 12; ++i) w.End();
    return w.Bytes();
}

constexpr uint32_t kBeep = 13;  // sys_beep's row + 1

TEST(EmberProvider, SetsAndInvocationsBecomeTheRequestsOfTheHttpApi) {
    RecordingEndpoint endpoint;
    endpoint.state = Json::Object().Set("boxes", Json::Array().Push(BoxState("a")).Push(BoxState("b")));
    Provider::Options options;
    options.authorization = [] { return std::string("Bearer t"); };
    Provider provider(endpoint, options);
    Consumers consumers(provider);
    consumers.Add(1);
    const struct {
        const char* name;
        std::string glow;
        const char* request;  // "METHOD PATH BODY"; empty: none is made
        bool answered = true;  // a set with its value in force, an invocation with its result
    } cases[] = {
        {"a setting", SetValue({1, 2, 5, kBeep}, int64_t{1}), R"(PUT /api/v1/boxes/b/settings {"sys_beep":1})"},
        {"a boolean", SetValue({1, 1, 5, kBeep}, true), R"(PUT /api/v1/boxes/a/settings {"sys_beep":1})"},
        {"a text, for the API to refuse", SetValue({1, 1, 5, 1}, std::string("on")), R"(PUT /api/v1/boxes/a/settings {"sys_2D3D":"on"})"},
        {"the connection, read-only", SetValue({1, 1, 2}, false), ""},
        {"no such setting", SetValue({1, 1, 5, 99}, int64_t{1}), "", false},
        {"no such box", SetValue({1, 3, 5, kBeep}, int64_t{1}), "", false},
        {"connect", Invoke({1, 1, 6, 1}, {}), "POST /api/v1/boxes/a/connect "},
        {"synchronise", Invoke({1, 2, 6, 3}, {}), "POST /api/v1/boxes/b/sync "},
        {"load memory 3", Invoke({1, 1, 6, 4}, {3}), "POST /api/v1/boxes/a/memory/3/load "},
        {"save adjust memory 2", Invoke({1, 1, 6, 7}, {2}), "POST /api/v1/boxes/a/adjust-memory/2/save "},
        {"a memory without its number", Invoke({1, 1, 6, 4}, {}), ""},
        {"connect with an argument", Invoke({1, 1, 6, 1}, {1}), ""},
        {"no such function", Invoke({1, 1, 6, 9}, {}), ""},
    };
    for (const auto& c : cases) {
        endpoint.requests.clear();
        consumers.got.clear();
        consumers.Ask(1, c.glow);
        std::string made;
        for (const api::Request& r : endpoint.requests) {
            made += r.method + " " + r.path + " " + r.body;
            EXPECT_EQ(r.authorization, "Bearer t") << c.name;
        }
        EXPECT_EQ(made, c.request) << c.name;
        EXPECT_EQ(consumers.got[1].order.size(), c.answered ? 1u : 0u) << c.name;
    }
    EXPECT_TRUE(consumers.closed.empty());
}

TEST(EmberProvider, APanelsBoxIsAskedOnThePlainPaths) {
    RecordingEndpoint endpoint;
    endpoint.state = BoxState(nullptr);
    Provider provider(endpoint, {});
    Consumers consumers(provider);
    consumers.Add(1);
    consumers.Ask(1, SetValue({1, 1, 5, kBeep}, int64_t{1}));
    ASSERT_EQ(endpoint.requests.size(), 1u);
    EXPECT_EQ(endpoint.requests[0].path, "/api/v1/settings");
}

TEST(EmberProvider, EventsReachWhoeverSubscribedAndTheAnswerComesFirst) {
    RecordingEndpoint endpoint;
    endpoint.state = Json::Object().Set("boxes", Json::Array().Push(BoxState("a")).Push(BoxState("b")));
    Provider provider(endpoint, {});
    Consumers consumers(provider);
    for (int id : {1, 2, 3, 4}) consumers.Add(id);
    consumers.Ask(1, Command({1, 1, 5}, 32));           // getDirectory of a's settings
    consumers.Ask(2, Command({1, 1, 5, kBeep}, 30));    // subscribe to a's beep
    consumers.Ask(3, Command({1, 1, 5, kBeep}, 30));    // subscribe, then unsubscribe
    consumers.Ask(3, Command({1, 1, 5, kBeep}, 31));
    consumers.Ask(4, Command({1, 2, 5}, 32));           // another box
    consumers.got.clear();
    endpoint.Emit(Json::Object().Set("event", "setting").Set("box", "a").Set("key", "sys_beep").Set("value", 1));
    const Path beep = {1, 1, 5, kBeep};
    for (int id : {1, 2}) {
        ASSERT_EQ(consumers.got[id].values.size(), 1u) << id;
        EXPECT_EQ(consumers.got[id].values[0].at(beep), Value(int64_t{1})) << id;
    }
    EXPECT_TRUE(consumers.got[3].values.empty());
    EXPECT_TRUE(consumers.got[4].values.empty());

    // A refusal of any door: the box's lastRefusal, told to who browsed the box.
    consumers.Ask(4, Command({1, 2}, 32));
    consumers.got.clear();
    endpoint.Emit(Json::Object().Set("event", "failure").Set("box", "b").Set("error", "busy"));
    ASSERT_EQ(consumers.got[4].values.size(), 1u);
    EXPECT_EQ(consumers.got[4].values[0].at(Path{1, 2, 4}), Value(std::string("busy")));

    // Consumer 1 connects box a: what that changed comes after the invocation's result.
    consumers.got.clear();
    endpoint.during = [&] {
        endpoint.Emit(Json::Object().Set("event", "setting").Set("box", "a").Set("key", "sys_beep").Set("value", 0));
    };
    consumers.Ask(1, Invoke({1, 1, 6, 1}, {}));
    EXPECT_EQ(consumers.got[1].order, (std::vector<char>{'i', 'v'}));
    EXPECT_EQ(consumers.got[1].invocations, std::vector<bool>{true});
    EXPECT_EQ(consumers.got[2].order, std::vector<char>{'v'});  // the others at once

    // The same with the answer coming later, and two requests of one consumer running.
    consumers.got.clear();
    endpoint.during = nullptr;
    endpoint.defer = true;
    consumers.Ask(1, Invoke({1, 1, 6, 1}, {}));
    consumers.Ask(1, SetValue({1, 1, 5, kBeep}, int64_t{1}));
    endpoint.Emit(Json::Object().Set("event", "setting").Set("box", "a").Set("key", "sys_beep").Set("value", 1));
    EXPECT_TRUE(consumers.got[1].order.empty());
    EXPECT_EQ(consumers.got[2].order, std::vector<char>{'v'});
    endpoint.Release();
    EXPECT_EQ(consumers.got[1].order, (std::vector<char>{'i', 'v', 'v'}));  // result, set's answer, the event
}

TEST(EmberProvider, AConsumerGoneWhileItsRequestRunsIsForgotten) {
    RecordingEndpoint endpoint;
    endpoint.state = BoxState("a");
    Provider provider(endpoint, {});
    Consumers consumers(provider);
    consumers.Add(1);
    consumers.Add(2);
    consumers.Ask(2, Command({1, 1, 5}, 32));
    consumers.got.clear();
    endpoint.during = [&] {
        provider.Remove(1);
        endpoint.Emit(Json::Object().Set("event", "setting").Set("box", "a").Set("key", "sys_beep").Set("value", 1));
    };
    consumers.Ask(1, SetValue({1, 1, 5, kBeep}, int64_t{1}) + SetValue({1, 1, 5, kBeep}, int64_t{0}));
    EXPECT_EQ(endpoint.requests.size(), 1u);  // the second set of the gone consumer is dropped
    // A consumer gone before its answer came: the answer is dropped.
    endpoint.during = nullptr;
    endpoint.defer = true;
    consumers.Add(3);
    consumers.Ask(3, Invoke({1, 1, 6, 1}, {}));
    provider.Remove(3);
    endpoint.Release();
    EXPECT_TRUE(consumers.got[3].order.empty());
    EXPECT_TRUE(consumers.got[1].order.empty());
    EXPECT_EQ(consumers.got[2].order, std::vector<char>{'v'});
    EXPECT_EQ(provider.Consumers(), 1u);
}

TEST(EmberProvider, AConsumerBreakingTheProtocolIsClosedAlone) {
    RecordingEndpoint endpoint;
    endpoint.state = BoxState("a");
    Provider provider(endpoint, {});
    Consumers consumers(provider);
    consumers.Add(1);
    consumers.Add(2);
    provider.Receive(1, "garbage");
    provider.Receive(2, EncodeMessage("not BER at all"));
    EXPECT_EQ(consumers.closed, (std::vector<int>{1, 2}));
    consumers.Add(3);
    provider.Receive(3, KeepAliveRequest());
    consumers.Ask(3, Command({}, 32));
    EXPECT_EQ(consumers.got[3].values.size(), 1u);
}

}  // namespace
}  // namespace dpx::ember
