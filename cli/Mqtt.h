#pragma once
// dpx20ctl's MQTT side: the door of `serve --mqtt URL` beside its HTTP one, and `fleet`, the
// control API and web page of every box of every service on a broker. Without the MQTT client
// in the build (Windows this round) both say so and fail.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dpx::api {
class Endpoint;
}

namespace dpx::cli {

// --mqtt URL, --mqtt-ca FILE, --mqtt-prefix PREFIX, --mqtt-name NAME.
struct MqttSetup {
    std::string url;  // mqtt://[USER[:PASSWORD]@]HOST[:PORT] or mqtts://...; empty: no MQTT
    std::string ca_file;
    std::string prefix;
    std::string name;  // the service's name on the broker (default: the host's name)
    int keepalive_s = 10;
};

// A service's door on the broker, open until it is destroyed, which says the service is
// offline first.
class MqttDoor {
public:
    virtual ~MqttDoor() = default;
};

// Opens the door of `endpoint`, whose boxes are `boxes`, with `setup`; nothing with `why` when
// the setup is wrong (a bad URL or name, an unreadable CA file). A broker that cannot be
// reached yet is tried again and again, not an error. `authorization` gives the Authorization
// header the door's requests carry. Runs on the application thread, whose event loop must run.
std::unique_ptr<MqttDoor> OpenMqttDoor(api::Endpoint& endpoint, const std::vector<std::string>& boxes, const MqttSetup& setup,
                                       std::function<std::string()> authorization, std::string* why);

// The fleet view as an endpoint with its MQTT client, for the HTTP server to serve; nothing with
// `why` as above.
class FleetView {
public:
    virtual ~FleetView() = default;
    virtual api::Endpoint& Endpoint() = 0;
};
std::unique_ptr<FleetView> OpenFleet(const MqttSetup& setup, std::string* why);

}  // namespace dpx::cli
