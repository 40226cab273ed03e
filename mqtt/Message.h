#pragma once
// What the MQTT door and the fleet exchange with a broker, free of Qt and of the client library:
// a message with the MQTT 5 properties they use, the broker's address, and the topic tree.
//
// The tree below a prefix (default "dpx20"), SERVICE being a service's name and BOX one of its
// boxes:
//   PREFIX/SERVICE/status                 retained: the service's presence and its boxes (JSON);
//                                         the broker publishes its last will there
//   PREFIX/SERVICE/BOX/state              retained: the box's state as GET /state gives it
//   PREFIX/SERVICE/BOX/connection         retained: "connected" or "disconnected"
//   PREFIX/SERVICE/BOX/cause              retained: why it is disconnected (absent when it is not)
//   PREFIX/SERVICE/BOX/settings/KEY       retained: one setting's value, a decimal integer
//   PREFIX/SERVICE/BOX/events             one message per event, as GET /events sends it
//   PREFIX/SERVICE/BOX/cmd/set            command: the body of PUT /settings
//   PREFIX/SERVICE/BOX/cmd/set/KEY        command: one setting, the payload its value
//   PREFIX/SERVICE/BOX/cmd/PATH           command: POST /PATH (connect, disconnect, sync,
//                                         memory/N/load, adjust-memory/N/save, ...)
//   PREFIX/SERVICE/cmd                    command: any request, {"method","path","body","id"}
//   PREFIX/SERVICE/result                 answers to commands that named no response topic
//   PREFIX/SERVICE/reply/CLIENT           where a client of the service (a fleet) asks for its
//                                         answers: inside the service's subtree, which is the
//                                         one its broker account may write
#include <cstdint>
#include <string>
#include <vector>

namespace dpx::mqtt {

inline constexpr char kDefaultPrefix[] = "dpx20";
// The largest command payload taken, as the largest request body of the HTTP door.
inline constexpr std::size_t kPayloadLimit = 64 * 1024;

struct Message {
    std::string topic;
    std::string payload;
    bool retain = false;
    // MQTT 5: where the answer goes and what it carries back to tell it (empty: none).
    std::string response_topic;
    std::string correlation;
    // MQTT 5: an answer's HTTP status, as the user property "status" (0: none).
    int status = 0;
};

// A broker address: mqtt://[USER[:PASSWORD]@]HOST[:PORT] or mqtts://... (TLS).
struct BrokerUrl {
    bool tls = false;
    std::string host;
    int port = 1883;
    std::string user;
    std::string password;
};
// False with `why` for anything else (another scheme, no host, a port out of range).
bool ParseBrokerUrl(const std::string& url, BrokerUrl* out, std::string* why);

// A name in the tree (a service's or a box's): letters, digits, '-' and '_', so that it is
// one topic level and no wildcard.
bool ValidName(const std::string& name);

// The levels of `topic`, split at '/'.
std::vector<std::string> Levels(const std::string& topic);

}  // namespace dpx::mqtt
