#include "api/Places.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace dpx::api {
namespace {

// The place among those that `counts` that gives way first, or -1: one that is only closing,
// then one of the address that holds the most places, the least recently active of those.
template <class Counts>
int Victim(const std::vector<Place>& places, Counts counts) {
    std::map<std::string, int> held;
    for (const Place& p : places) ++held[p.peer];
    const auto rank = [&held](const Place& p) { return std::make_tuple(!p.closing, -held[p.peer], p.active_ms); };
    int best = -1;
    for (int i = 0; i < static_cast<int>(places.size()); ++i) {
        const Place& p = places[static_cast<std::size_t>(i)];
        if (!counts(p) || p.kept) continue;
        if (best < 0 || rank(p) < rank(places[static_cast<std::size_t>(best)])) best = i;
    }
    return best;
}

}  // namespace

Room MakeRoom(const std::vector<Place>& places, const std::string& peer, const PlaceLimits& limits) {
    Room room;
    const auto same_peer = [&peer](const Place& p) { return p.peer == peer; };
    const auto from_peer = std::count_if(places.begin(), places.end(), same_peer);
    if (from_peer >= limits.per_peer) {
        room.evict = Victim(places, same_peer);
        if (room.evict < 0) room.refusal = "busy: " + std::to_string(limits.per_peer) + " connections from this address are open";
        return room;
    }
    if (static_cast<int>(places.size()) >= limits.total) {
        room.evict = Victim(places, [](const Place&) { return true; });
        if (room.evict < 0) room.refusal = "busy: " + std::to_string(limits.total) + " connections are open";
    }
    return room;
}

}  // namespace dpx::api
