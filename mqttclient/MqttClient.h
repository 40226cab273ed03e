#pragma once
// An MQTT 5 client (libmosquitto) on the application thread's Qt event loop: the client's socket
// is watched by QSocketNotifiers and read and written by mosquitto_loop_read/write when it is
// ready, so messages are handled on the thread where the control API runs and nothing needs a
// lock; a timer at half the keep-alive sends the keep-alive ping (mosquitto_loop_misc), the only
// wake-up of an idle client. A lost or refused connection is tried again after 1 s, then twice
// as long each time up to 30 s; each new connection subscribes again and calls on_connected,
// which publishes what the broker should keep.
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mqtt/Message.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace dpx::mqtt {

class MqttClient final : public QObject {
    Q_OBJECT
public:
    struct Setup {
        BrokerUrl broker;
        std::string ca_file;    // mqtts: the CA certificates to trust (empty: the system's)
        std::string client_id;  // unique on the broker
        int keepalive_s = 10;
        std::optional<Message> will;
        std::vector<std::string> subscriptions;
    };
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 30000;

    explicit MqttClient(Setup setup, QObject* parent = nullptr);
    ~MqttClient() override;

    // Starts connecting; false with `why` when the client cannot be set up (a CA file that
    // cannot be read, ...). A broker that cannot be reached is tried again, not a failure.
    bool Start(std::string* why);
    // Publishes (QoS 1 for retained messages and answers, QoS 0 for events); dropped while not
    // connected: on_connected publishes the retained state anew.
    void Publish(const Message& message);
    // Publishes `last` (the presence as offline), disconnects cleanly and waits at most
    // `wait_ms` for it to leave.
    void Stop(const std::optional<Message>& last, int wait_ms = 1000);
    bool Connected() const { return connected_; }

    std::function<void()> on_connected;
    std::function<void(const std::string& cause)> on_disconnected;
    std::function<void(const Message&)> on_message;
    // What the operator should know (a refused login, a lost broker); stderr by default.
    std::function<void(const std::string&)> on_warning;

private:
    static void OnConnect(mosquitto*, void* self, int rc, int flags, const ::mqtt5__property* props);
    static void OnDisconnect(mosquitto*, void* self, int rc, const ::mqtt5__property* props);
    static void OnMessage(mosquitto*, void* self, const ::mosquitto_message* m, const ::mqtt5__property* props);
    void Connect();
    // Watches the socket the client has now (a new one after each connect).
    void Watch();
    void Drop(bool now = false);
    void Readable();
    void Writable();
    void Misc();
    void Lost(const std::string& cause);
    void WantWrite();
    void Warn(const std::string& text) const;

    Setup setup_;
    mosquitto* mosq_ = nullptr;
    int socket_ = -1;
    std::unique_ptr<QSocketNotifier> read_, write_;
    QTimer misc_, retry_;
    int retry_ms_ = kFirstRetryMs;
    bool connected_ = false;
    bool stopping_ = false;
    bool started_ = false;  // connected once: later connections are reconnections
    std::string last_warning_;
};

}  // namespace dpx::mqtt
