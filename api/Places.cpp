#include "api/Places.h"

#include <algorithm>

namespace dpx::api {
namespace {

// The place among those that `counts` that gives way first, or -1.
template <class Counts>
int Victim(const std::vector<Place>& places, Counts counts) {
    int best = -1;
    for (int i = 0; i < static_cast<int>(places.size()); ++i) {
        const Place& p = places[static_cast<std::size_t>(i)];
        if (!counts(p) || p.kept) continue;
        if (best < 0) {
            best = i;
            continue;
        }
        const Place& b = places[static_cast<std::size_t>(best)];
        if (p.closing != b.closing ? p.closing : p.active_ms < b.active_ms) best = i;
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
