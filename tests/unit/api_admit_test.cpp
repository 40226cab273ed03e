// Who the control API lets in: a web page only from its own origin (the scheme the request came
// with and the Host it names), the token where one is asked for, and on loopback a Host that
// names this computer.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "api/ControlApi.h"

namespace dpx::api {
namespace {

TEST(ApiAdmit, APageIsLetInFromItsOwnOriginOnly) {
    const std::string token(64, 'a');
    const Access loopback{{}, true};
    const Access beyond{token, false};
    struct Case {
        const char* origin;
        const char* host;
        const char* scheme;
        const Access& access;
        int status;  // 0: let in
    };
    const Case cases[] = {
        {"", "127.0.0.1:8420", "http", loopback, 0},  // not a browser's page
        {"http://127.0.0.1:8420", "127.0.0.1:8420", "http", loopback, 0},
        {"HTTP://LocalHost:8420", "localhost:8420", "http", loopback, 0},
        {"http://[::1]:8420", "[::1]:8420", "http", loopback, 0},
        {"http://127.0.0.1", "127.0.0.1:80", "http", loopback, 0},  // the default port, said or not
        {"https://127.0.0.1:8420", "127.0.0.1:8420", "https", loopback, 0},
        {"https://127.0.0.1:8420", "127.0.0.1:8420", "http", loopback, 403},  // another scheme
        {"http://127.0.0.1:8420", "127.0.0.1:8420", "https", loopback, 403},
        {"http://127.0.0.1:8421", "127.0.0.1:8420", "http", loopback, 403},  // another port
        {"http://elsewhere.example", "127.0.0.1:8420", "http", loopback, 403},
        {"http://127.0.0.1:8420.elsewhere.example", "127.0.0.1:8420", "http", loopback, 403},
        {"http://127.0.0.1:8420/", "127.0.0.1:8420", "http", loopback, 403},
        {"null", "127.0.0.1:8420", "http", loopback, 403},
        {"http://127.0.0.1:8420", "", "http", loopback, 403},  // no Host to compare with
        // A name of another site pointed at 127.0.0.1: its own origin, but not this computer.
        {"http://elsewhere.example:8420", "elsewhere.example:8420", "http", loopback, 403},
        // Beyond loopback the page's own requests still need the token.
        {"http://studio-pc:8420", "studio-pc:8420", "http", beyond, 401},
        {"http://elsewhere.example", "studio-pc:8420", "http", beyond, 403},
    };
    for (const Case& c : cases) {
        for (const bool with_token : {false, true}) {
            Request request;
            request.method = "GET";
            request.path = std::string(kBasePath) + "/state";
            request.origin = c.origin;
            request.host = c.host;
            request.scheme = c.scheme;
            if (with_token) request.authorization = "Bearer " + token;
            const std::optional<Response> refused = Admit(c.access, request);
            const int expected = c.status == 401 && with_token ? 0 : c.status;
            EXPECT_EQ(refused ? refused->status : 0, expected)
                << c.origin << " " << c.host << " " << c.scheme << (with_token ? " with the token" : "");
        }
    }
}

}  // namespace
}  // namespace dpx::api
