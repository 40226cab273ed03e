// Who gives way when a connection comes to a full server or a full address: never one that
// earned its place; first one that is only closing, then one of the address holding the most
// places, the one of those active longest ago; and with
// none such, the newcomer is refused as busy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/Places.h"

namespace dpx::api {
namespace {

TEST(ApiPlaces, OnlyAPlaceNotEarnedGivesWayClosingOnesFirstThenTheLeastRecentlyActive) {
    const PlaceLimits limits{4, 3};
    const Place kept_a{"a", true, false, 1};
    const Place idle_a{"a", false, false, 5};
    const Place older_a{"a", false, false, 2};
    const Place closing_a{"a", false, true, 9};
    const Place idle_b{"b", false, false, 1};
    const Place kept_b{"b", true, false, 1};
    struct Case {
        const char* what;
        std::vector<Place> places;
        std::string peer;
        int evict;
        bool refused;
    };
    const Case cases[] = {
        {"room left", {kept_a, idle_a}, "c", -1, false},
        {"full: the least recently active", {idle_a, older_a, kept_b, idle_b}, "c", 3, false},
        {"full: a closing one before any other", {idle_b, older_a, closing_a, kept_b}, "c", 2, false},
        {"full: the address holding most gives way before a lone older one",
         {idle_b, idle_a, Place{"a", false, false, 6}, Place{"a", false, false, 7}}, "c", 1, false},
        {"full of kept places", {kept_a, kept_b, kept_a, kept_b}, "c", -1, true},
        {"the address full: one of its own gives way", {idle_b, kept_a, idle_a, older_a}, "a", 3, false},
        {"the address full of kept places, the server not", {kept_a, kept_a, kept_a}, "a", -1, true},
        {"another address still finds room", {kept_a, kept_a, kept_a}, "b", -1, false},
    };
    for (const Case& c : cases) {
        const Room room = MakeRoom(c.places, c.peer, limits);
        EXPECT_EQ(room.evict, c.evict) << c.what;
        EXPECT_EQ(!room.refusal.empty(), c.refused) << c.what;
        if (c.refused) {
            EXPECT_EQ(room.refusal.rfind("busy: ", 0), 0u) << c.what;
        }
    }
}

}  // namespace
}  // namespace dpx::api
