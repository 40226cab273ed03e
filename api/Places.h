#pragma once
// Who keeps a place among the server's connections when a new one comes and the server, or the
// new one's address, has none left. Free of sockets, so that the rule is tested alone.
//
// A connection keeps its place once it has earned it: on a listener that asks for the token,
// with a request that carried the token; on a loopback listener, with a request of the API
// itself (the page's files, /health and the OpenAPI document earn none). Any other connection
// makes room for a newcomer: first one that has had its last answer and is only closing, then
// one of the address that holds the most places (a flood from a few addresses gives way before
// a lone client whose request has not been read yet), the least recently active of those. With no
// such connection the newcomer is refused.
#include <cstdint>
#include <string>
#include <vector>

namespace dpx::api {

struct Place {
    std::string peer;        // the peer's address
    bool kept = false;       // has earned its place
    bool closing = false;    // had its last answer; goes as soon as the client has read it
    int64_t active_ms = 0;   // when it last sent a request or was answered
};

struct PlaceLimits {
    int total = 64;
    int per_peer = 16;  // below `total`, so that one address never holds every place
};

struct Room {
    int evict = -1;         // the index of the connection that gives its place, or -1
    std::string refusal;    // not empty: no place; the "busy: ..." text of the 503
};

// What a connection from `peer` finds among `places`.
Room MakeRoom(const std::vector<Place>& places, const std::string& peer, const PlaceLimits& limits);

}  // namespace dpx::api
