#pragma once
// Several boxes behind one control API, each with its own session and ControlApi: GET
// /api/v1/boxes lists them, and /api/v1/boxes/NAME/... is box NAME's /api/v1/...; with one box
// the paths without /boxes/NAME are that box's too, as a service of one box always had them.
// Every event and state names its box. Qt-free.
#include <string>
#include <vector>

#include "api/ControlApi.h"

namespace dpx::api {

class BoxRouter final : public Endpoint {
public:
    struct Box {
        std::string name;
        ControlApi* api;
        const Session* session;
        std::string port;       // as given on the command line
        std::string port_kind;  // "device", "raw TCP", "RFC 2217"
    };
    // Serves `boxes` (at least one), whose endpoints and sessions must outlive it.
    explicit BoxRouter(std::vector<Box> boxes);
    ~BoxRouter() override;
    BoxRouter(const BoxRouter&) = delete;
    BoxRouter& operator=(const BoxRouter&) = delete;

    void SetAccess(Access access) override;
    void SetPost(Session::Post post) override;
    void Handle(const Request& request, Reply reply) override;
    Json State() const override;

    // A name a box may have: letters, digits, '-' and '_'.
    static bool ValidName(const std::string& name);

private:
    // The answer when the router gives it itself; nothing when a box answers.
    std::optional<Response> Route(const Request& request, const Reply& reply);
    Json List() const;
    std::vector<Box> boxes_;
    Access access_;
};

}  // namespace dpx::api
