#pragma once
// The Ember+ provider without its transport: the boxes of a control API Endpoint as a Glow
// tree, consumers' messages (S101 bytes) in, answers and notifications (S101 bytes) out.
// It drives the boxes only through the Endpoint, with the same requests an HTTP client sends
// (a set is PUT .../settings, a function POST .../connect, ...), so that a change from a
// consumer meets the same rules, refusals, frames and events as one from any other door; and
// it tells subscribed consumers every event of the Endpoint, whoever caused it. Qt-free.
//
// The tree (numbers in brackets):
//   [1] the service: "dpx20remote"
//     [1.b] one node per box, named as the box (b from 1, in the service's order)
//       [1] identity: name, port, portKind, version (read-only texts)
//       [2] connected (boolean), [3] cause (why not connected), [4] lastRefusal (the text of
//           the box's last refused request, from any door): read-only
//       [5] settings: one parameter per setting of the settings table, in its order (number =
//           row + 1), identifier = its key; online while the box is connected
//       [6] functions: connect, disconnect, synchronise, loadMemory(n), saveMemory(n),
//           loadAdjustMemory(n), saveAdjustMemory(n); each gives (result, text)
// A getDirectory of an element subscribes the consumer to it and its children; subscribe and
// unsubscribe do so for one element.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/ControlApi.h"
#include "ember/Glow.h"
#include "ember/S101.h"

namespace dpx::ember {

class Provider {
public:
    struct Options {
        std::string version;  // the program's version, in each box's identity
        // The Authorization header of the provider's requests (the API's token where it asks
        // for one); called for each request.
        std::function<std::string()> authorization;
        S101Decoder::Limits limits;
    };
    // Sends bytes to consumer `id`.
    std::function<void(int id, const std::string& bytes)> send;
    // Consumer `id` broke the protocol or a limit and is to be closed, for `why`.
    std::function<void(int id, const std::string& why)> close;

    // Serves `endpoint`, which must outlive it, and takes its events: whoever had them before
    // (the HTTP server) keeps receiving them, and has them back when the provider ends, so
    // that it is made after that server and ended before it.
    Provider(api::Endpoint& endpoint, Options options);
    ~Provider();
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    void Add(int id);
    void Remove(int id);
    // Bytes consumer `id` sent.
    void Receive(int id, std::string_view bytes);
    std::size_t Consumers() const { return consumers_.size(); }

private:
    struct Box {
        std::string name;    // the node's identifier
        std::string prefix;  // "/api/v1/boxes/NAME" or "/api/v1" (a panel's endpoint)
        std::string last_refusal;
    };
    struct Consumer {
        S101Decoder decoder;
        std::vector<std::string> queue;  // messages read, not yet handled
        bool handling = false;
        // While requests of its own run (how many), what changed waits: the answer comes first.
        int answering = 0;
        std::vector<std::string> held;
        std::set<Path> subscribed;
    };

    // The one call of the endpoint: `reply` receives its answer, at once or once the box's
    // operation has ended (on the transport's thread), when the consumer may be gone.
    void Handle(const api::Request& request, std::function<void(api::Response)> reply);
    void Dispatch(int id, const std::string& message);
    void Act(int id, const Action& action);
    void GetDirectory(int id, const Path& path);
    void SetValue(int id, const Path& path, const Value& value);
    void Invoke(int id, const Action& action);
    void OnEvent(const std::string& json);
    void Notify(const std::vector<Element>& elements);
    void SendTo(int id, const std::string& glow);
    // Runs `request` for consumer `id`; `answer` sends its answer, then what was held back.
    void Ask(int id, const api::Request& request, std::function<void(const api::Response&)> answer);

    // A box's state as the endpoint tells it now (nullptr when there is none).
    api::Json BoxStates() const;
    const api::Json* BoxState(const api::Json& states, std::size_t box) const;
    // The element at `path` with its contents, and its children's when `children`; false when
    // there is none.
    bool Describe(const Path& path, bool children, const api::Json& states, Element* out) const;
    Element BoxNode(std::size_t box, const api::Json* state) const;
    Element BoxChild(std::size_t box, uint32_t n, const api::Json* state) const;
    Element SettingParameter(std::size_t box, std::size_t row, const api::Json* state) const;
    std::size_t BoxOf(const api::Json& event) const;

    api::Endpoint& endpoint_;
    Options options_;
    std::function<void(const std::string&)> previous_;
    std::vector<Box> boxes_;
    std::map<int, Consumer> consumers_;
};

}  // namespace dpx::ember
