#include "cli/Mqtt.h"

#if DPX20_MQTT
#include <QCoreApplication>
#include <QSysInfo>
#include <QTimer>
#include <cstdlib>

#include "mqtt/Door.h"
#include "mqtt/Fleet.h"
#include "mqtt/Message.h"
#include "mqttclient/MqttClient.h"
#endif

namespace dpx::cli {

#if DPX20_MQTT
namespace {

// The broker, the prefix and the name checked, the password from DPX20_MQTT_PASSWORD when the
// URL gives a user without one (a password on the command line is seen by every user).
bool Check(const MqttSetup& setup, mqtt::BrokerUrl* broker, std::string* prefix, std::string* name, std::string* why) {
    if (!mqtt::ParseBrokerUrl(setup.url, broker, why)) return false;
    if (!broker->user.empty() && broker->password.empty())
        if (const char* password = std::getenv("DPX20_MQTT_PASSWORD")) broker->password = password;
    *prefix = setup.prefix.empty() ? mqtt::kDefaultPrefix : setup.prefix;
    if (prefix->find_first_of("+#") != std::string::npos || prefix->front() == '/' || prefix->back() == '/') {
        *why = "--mqtt-prefix " + *prefix + ": topic levels without '+', '#' or a '/' at either end";
        return false;
    }
    *name = setup.name;
    if (name->empty()) {
        // The host's name, as far as it is a valid one: letters, digits, '-' and '_'.
        for (const char c : QSysInfo::machineHostName().toStdString()) {
            if (c == '.') break;
            name->push_back(mqtt::ValidName(std::string(1, c)) ? c : '-');
        }
    }
    if (!mqtt::ValidName(*name)) {
        *why = "--mqtt-name " + *name + ": a service's name is letters, digits, '-' and '_'";
        return false;
    }
    return true;
}

void Later(std::function<void()> work) { QTimer::singleShot(0, QCoreApplication::instance(), std::move(work)); }

class Door final : public MqttDoor {
public:
    Door(api::Endpoint& endpoint, const std::vector<std::string>& boxes, const std::string& prefix, const std::string& name,
         mqtt::MqttClient::Setup setup)
        : endpoint_(endpoint), door_(endpoint, prefix, name, boxes, [this](const mqtt::Message& m) { client_->Publish(m); }) {
        setup.will = door_.Will();
        setup.subscriptions = door_.Subscriptions();
        client_ = std::make_unique<mqtt::MqttClient>(std::move(setup));
        client_->on_connected = [this] { door_.Online(); };
        client_->on_message = [this](const mqtt::Message& m) { door_.Receive(m); };
        door_.later = Later;
        // The HTTP server takes the endpoint's events first; the door hears them after it.
        previous_ = endpoint_.on_event;
        endpoint_.on_event = [this](const std::string& json) {
            if (previous_) previous_(json);
            door_.Event(json);
        };
    }
    ~Door() override {
        endpoint_.on_event = previous_;
        client_->Stop(door_.Will());
    }
    bool Start(std::string* why) { return client_->Start(why); }
    mqtt::Door& Inner() { return door_; }

private:
    api::Endpoint& endpoint_;
    std::function<void(const std::string&)> previous_;
    std::unique_ptr<mqtt::MqttClient> client_;
    mqtt::Door door_;
};

class Fleet final : public FleetView {
public:
    Fleet(const std::string& prefix, const std::string& name, mqtt::MqttClient::Setup setup)
        : fleet_(prefix, name, [this](const mqtt::Message& m) { client_->Publish(m); }) {
        setup.subscriptions = fleet_.Subscriptions();
        client_ = std::make_unique<mqtt::MqttClient>(std::move(setup));
        client_->on_message = [this](const mqtt::Message& m) { fleet_.Receive(m); };
        client_->on_disconnected = [this](const std::string& cause) { fleet_.BrokerLost(cause); };
        fleet_.after = [](int ms, std::function<void()> work) {
            QTimer::singleShot(ms, QCoreApplication::instance(), std::move(work));
        };
    }
    ~Fleet() override { client_->Stop(std::nullopt); }
    bool Start(std::string* why) { return client_->Start(why); }
    api::Endpoint& Endpoint() override { return fleet_; }

private:
    std::unique_ptr<mqtt::MqttClient> client_;
    mqtt::Fleet fleet_;
};

}  // namespace

std::unique_ptr<MqttDoor> OpenMqttDoor(api::Endpoint& endpoint, const std::vector<std::string>& boxes, const MqttSetup& setup,
                                       std::function<std::string()> authorization, std::string* why) {
    mqtt::MqttClient::Setup client;
    std::string prefix, name;
    if (!Check(setup, &client.broker, &prefix, &name, why)) return nullptr;
    client.ca_file = setup.ca_file;
    client.client_id = "dpx20-" + name;
    client.keepalive_s = setup.keepalive_s;
    auto door = std::make_unique<Door>(endpoint, boxes, prefix, name, std::move(client));
    door->Inner().authorization = std::move(authorization);
    if (!door->Start(why)) return nullptr;
    return door;
}

std::unique_ptr<FleetView> OpenFleet(const MqttSetup& setup, std::string* why) {
    mqtt::MqttClient::Setup client;
    std::string prefix, name;
    MqttSetup named = setup;
    if (named.name.empty()) named.name = "fleet";
    if (!Check(named, &client.broker, &prefix, &name, why)) return nullptr;
    // Answers come to PREFIX/SERVICE/reply/NAME: one name per fleet process on a broker.
    name += "-" + std::to_string(QCoreApplication::applicationPid());
    client.ca_file = setup.ca_file;
    client.client_id = "dpx20-fleet-" + name;
    client.keepalive_s = setup.keepalive_s;
    auto fleet = std::make_unique<Fleet>(prefix, name, std::move(client));
    if (!fleet->Start(why)) return nullptr;
    return fleet;
}

#else

std::unique_ptr<MqttDoor> OpenMqttDoor(api::Endpoint&, const std::vector<std::string>&, const MqttSetup&,
                                       std::function<std::string()>, std::string* why) {
    *why = "this dpx20ctl is built without MQTT";
    return nullptr;
}

std::unique_ptr<FleetView> OpenFleet(const MqttSetup&, std::string* why) {
    *why = "this dpx20ctl is built without MQTT";
    return nullptr;
}

#endif

}  // namespace dpx::cli
